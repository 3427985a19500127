// TJvFilenameEdit for the Win32 window: a read-only edit box naming a file, with a browse button
// inside its right end that runs the file-open dialog, and taking files dropped on it from the
// file manager. Typing and the clipboard are refused.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velotrax::win32ui {

class TJvFilenameEdit {
 public:
  // Creates the field in parent at the given place.
  TJvFilenameEdit(HWND parent, int id, RECT place, HFONT font);
  TJvFilenameEdit(const TJvFilenameEdit&) = delete;
  TJvFilenameEdit& operator=(const TJvFilenameEdit&) = delete;

  HWND Handle() const { return edit_; }

  // The text (UTF-8); set directly: no check, no quotes.
  std::string Text() const;
  void SetText(const std::string& text);
  // The text as a file name (the field adds no quotes, so none are removed).
  std::string FileName() const { return Text(); }
  // Checks and stores a name; throws EComboEditError "Invalid file name - %s".
  void SetFileName(const std::string& v);
  // The stored name (short alias where the file system keeps one) of the file FileName names,
  // without directory; empty when nothing matches.
  std::string ShortFileName() const;
  // The same with the long name.
  std::string LongFileName() const;
  // Runs the file-open dialog and takes the confirmed file.
  void BrowseForFile();
  // A click reported by the parent: true when it was the browse button's, which then browses.
  bool ButtonClicked(HWND from);
  // A WM_DRAWITEM reported by the parent: true when it was the browse button's, now drawn.
  bool DrawButton(const DRAWITEMSTRUCT& item);
  // Files dropped from the file manager (WM_DROPFILES): the first one's name is set as by
  // SetFileName, a folder's without its trailing "\". The drop's memory is freed in every case.
  void DropFiles(HGLOBAL drop);

  void SetFilter(std::wstring label, std::wstring pattern);
  void SetDialogTitle(std::wstring title) { dialog_title_ = std::move(title); }

 private:
  static LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                     UINT_PTR id, DWORD_PTR self);
  static LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR self);

  HWND edit_ = nullptr;
  HWND button_ = nullptr;
  std::wstring filter_label_ = L"All files (*.*)";
  std::wstring filter_pattern_ = L"*.*";
  std::wstring dialog_title_ = L"Browse";
  std::string initial_dir_;  // where the next dialog opens; empty: the system's choice
  std::string dialog_file_;  // the name the next dialog proposes
};

}  // namespace velotrax::win32ui
