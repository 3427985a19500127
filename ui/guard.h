// The application's one error guard: every handler call runs inside it, and whatever it throws is
// shown in the error box instead of unwinding through Qt's event loop.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <string>

#include "ui/window_texts.h"

namespace velotrax {

// Runs handler; an exception that escapes it ends it and is shown in the error box.
void RunGuarded(const std::function<void()>& handler);

// The error box: caption the application title, the message with one "." added by the rule of
// ErrorBoxText, the stop icon and one OK button, modal to the whole application.
void ShowErrorBox(const std::string& message);

// The application title from the executable's path: the name after the last "/", cut at its first
// ".", every character after the first lower-cased ("BENCH.EXE" gives "Bench").
QString ApplicationTitleFromPath(const QString& executable_path);

// Shows the error held by error in the error box; never throws.
void ReportException(std::exception_ptr error) noexcept;

// Asks the question in a message box with the application title as caption, the question icon
// and the buttons Yes and No (No the default), modal to the whole application; true for Yes.
bool AskQuestion(const std::string& question);

// Who asks the question: receives the caption and the text as shown, returns true for Yes.
using QuestionPresenter = std::function<bool(const QString& caption, const QString& text)>;
// Replaces the presenter (an empty one restores the real message box); returns the previous one.
QuestionPresenter SetQuestionPresenter(QuestionPresenter presenter);

// Who puts the error box on the screen: receives the caption and the text as shown.
using ErrorBoxPresenter = std::function<void(const QString& caption, const QString& text)>;
// Replaces the presenter (an empty one restores the real message box); returns the previous one.
ErrorBoxPresenter SetErrorBoxPresenter(ErrorBoxPresenter presenter);

}  // namespace velotrax
