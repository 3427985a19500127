// Shared stand-ins of the file-name field tests: the user's answer to the file dialog and the
// error box.
#pragma once

#include <QString>
#include <QStringList>
#include <fstream>
#include <string>
#include <vector>

#include "ui/qt/file_name_field.h"
#include "ui/qt/guard.h"

namespace velotrax::testing {

inline void MakeFile(const std::string& path) {
  std::ofstream(path) << "x";
}

// Answers the file dialog in place of the user and remembers what it was asked.
struct DialogScript {
  DialogScript() {
    TJvFilenameEdit::RunFileDialog = [this](QWidget*, const FileDialogRequest& request) {
      requests.push_back(request);
      return answer;
    };
  }
  ~DialogScript() { TJvFilenameEdit::RunFileDialog = nullptr; }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;
  std::vector<FileDialogRequest> requests;
  FileDialogAnswer answer;
};

// Collects what the error box would show.
struct ErrorBoxes {
  ErrorBoxes() {
    previous = SetErrorBoxPresenter([this](const QString&, const QString& text) { shown << text; });
  }
  ~ErrorBoxes() { SetErrorBoxPresenter(previous); }
  ErrorBoxes(const ErrorBoxes&) = delete;
  ErrorBoxes& operator=(const ErrorBoxes&) = delete;
  QStringList shown;
  ErrorBoxPresenter previous;
};

}  // namespace velotrax::testing
