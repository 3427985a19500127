#include "ui/win32/file_name_field.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/win32_text.h"
#include "storage/file_names.h"
#include "ui/win32/guard.h"
#include "ui/win32/pictures.h"

namespace velotrax::win32ui {

namespace {

constexpr int kButtonWidth = 21;
constexpr UINT_PTR kSubclassId = 1;

// The first directory entry matching path, as the system's find-first search does.
bool FindEntry(const std::string& path, WIN32_FIND_DATAW& entry) {
  if (path.empty()) return false;
  std::wstring wide;
  if (!win32::Wide(path, wide)) return false;
  HANDLE search = ::FindFirstFileW(wide.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return true;
}

// The header of a drop's memory as the system lays it out (DROPFILES, declared with the shell's
// headers, which this program does not use).
struct DropHeader {
  DWORD files_offset;  // where the names begin, from the start of the block
  POINT point;
  BOOL non_client;
  BOOL wide;  // UTF-16 names, else the ANSI code page's
};
static_assert(sizeof(DropHeader) == 20);

// One name of the list at offset, in units of `unit` bytes ending in a zero unit; false when the
// block ends before its zero.
bool ReadDroppedName(const char* block, std::size_t size, std::size_t& offset, std::size_t unit,
                     std::string& name) {
  const std::size_t start = offset;
  while (offset + unit <= size) {
    bool zero = true;
    for (std::size_t i = 0; i < unit; ++i) zero = zero && block[offset + i] == 0;
    if (zero) {
      name.assign(block + start, offset - start);
      offset += unit;
      return true;
    }
    offset += unit;
  }
  return false;
}

// The names a drop's memory lists, read within the block's own size: the list ends at an empty
// name, and a name the block cuts off is not taken, nor anything after it.
std::vector<std::wstring> DroppedNames(const char* block, std::size_t size) {
  std::vector<std::wstring> names;
  DropHeader header;
  if (size < sizeof(header)) return names;
  std::memcpy(&header, block, sizeof(header));
  std::size_t offset = header.files_offset;
  if (offset < sizeof(header) || offset > size) return names;
  const std::size_t unit = header.wide ? sizeof(wchar_t) : 1;
  std::string name;
  while (ReadDroppedName(block, size, offset, unit, name) && !name.empty()) {
    if (header.wide) {
      std::wstring wide(name.size() / unit, L'\0');
      std::memcpy(wide.data(), name.data(), wide.size() * unit);
      names.push_back(std::move(wide));
    } else {
      const int length =
          ::MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
      std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
      ::MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(),
                            length);
      names.push_back(std::move(wide));
    }
  }
  return names;
}

}  // namespace

TJvFilenameEdit::TJvFilenameEdit(HWND parent, int id, RECT place, HFONT font) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  // Direct input off: the box is read-only, yet it takes the focus and the click key.
  edit_ = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_EDITW, L"",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY | WS_CLIPSIBLINGS,
      place.left, place.top, place.right - place.left, place.bottom - place.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  ::SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  // The button lies over the box's right end as its sibling, above it, and is drawn by the
  // field: a themed button inside a box or over it is lost under the box's text area in Wine.
  button_ = ::CreateWindowExW(0, WC_BUTTONW, L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW,
                              place.right - 2 - kButtonWidth, place.top + 2, kButtonWidth,
                              place.bottom - place.top - 4, parent, nullptr, instance, nullptr);
  ::SetWindowPos(button_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // Files dropped on the field, its button included, are the field's.
  ::SetWindowLongPtrW(edit_, GWL_EXSTYLE,
                      ::GetWindowLongPtrW(edit_, GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
  ::SetWindowLongPtrW(button_, GWL_EXSTYLE,
                      ::GetWindowLongPtrW(button_, GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
  ::SetWindowSubclass(button_, ButtonProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  // The text ends before the button.
  ::SendMessageW(edit_, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, kButtonWidth));
  ::SetWindowSubclass(edit_, EditProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

std::string TJvFilenameEdit::Text() const {
  return WindowText(edit_);
}

void TJvFilenameEdit::SetText(const std::string& text) {
  // The field holds one line: a line break and what follows it are cut off.
  const std::size_t end = text.find_first_of("\r\n");
  ::SetWindowTextW(edit_, ShowText(end == std::string::npos ? text : text.substr(0, end)).c_str());
}

void TJvFilenameEdit::SetFileName(const std::string& v) {
  if (!v.empty() && !FileNameAcceptable(NormalizeFileText(v))) {
    throw EComboEditError("Invalid file name - " + v);
  }
  SetText(v);
}

std::string TJvFilenameEdit::ShortFileName() const {
  WIN32_FIND_DATAW entry;
  if (!FindEntry(FileName(), entry)) return {};
  if (entry.cAlternateFileName[0] != L'\0') return win32::Utf8(entry.cAlternateFileName);
  return win32::Utf8(entry.cFileName);
}

std::string TJvFilenameEdit::LongFileName() const {
  WIN32_FIND_DATAW entry;
  if (!FindEntry(FileName(), entry)) return {};
  if (entry.cFileName[0] != L'\0') return win32::Utf8(entry.cFileName);
  return win32::Utf8(entry.cAlternateFileName);
}

void TJvFilenameEdit::SetFilter(std::wstring label, std::wstring pattern) {
  filter_label_ = std::move(label);
  filter_pattern_ = std::move(pattern);
}

void TJvFilenameEdit::BrowseForFile() {
  std::string path = NormalizeFileText(Text());
  if (FileNameAcceptable(path)) {
    // A name that cannot be proposed leaves the dialog where it was.
    const std::string dir = DirectoryPart(path);
    if (!dir.empty() && DirectoryIsPresent(dir)) initial_dir_ = StoredInitialDir(dir);
    const std::string name = NamePart(path);
    if (name.empty() || !FileNameAcceptable(name)) path.clear();
    dialog_file_ = path;
  }
  std::wstring filter = filter_label_ + L'\0' + filter_pattern_ + L'\0' + L'\0';
  std::wstring file = ShowText(dialog_file_);
  file.resize(MAX_PATH, L'\0');
  const std::wstring initial_dir = ShowText(initial_dir_);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = ::GetAncestor(edit_, GA_ROOT);
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = initial_dir.empty() ? nullptr : initial_dir.c_str();
  dialog.lpstrTitle = dialog_title_.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  // No "drive not ready" boxes while the dialog looks around.
  const UINT error_mode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
  const bool confirmed = ::GetOpenFileNameW(&dialog) != FALSE;
  ::SetErrorMode(error_mode);
  if (::IsWindowVisible(edit_) && ::IsWindowEnabled(edit_)) ::SetFocus(edit_);
  if (!confirmed) return;
  const std::string chosen = win32::Utf8(file.c_str());
  SetText(chosen);
  dialog_file_ = chosen;
  initial_dir_ = StoredInitialDir(DirectoryPart(chosen));
}

bool TJvFilenameEdit::DrawButton(const DRAWITEMSTRUCT& item) {
  if (item.hwndItem != button_ || button_ == nullptr) return false;
  RECT face = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  ::DrawFrameControl(item.hDC, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  // The folder in the middle, one pixel down and right while pressed.
  DrawFolder(item.hDC, (face.right - face.left - 14) / 2 + (pressed ? 1 : 0),
             (face.bottom - face.top - 12) / 2 + (pressed ? 1 : 0));
  return true;
}

void TJvFilenameEdit::DropFiles(HGLOBAL drop) {
  std::vector<std::wstring> names;
  if (const void* block = ::GlobalLock(drop); block != nullptr) {
    names = DroppedNames(static_cast<const char*>(block), ::GlobalSize(drop));
    ::GlobalUnlock(drop);
  }
  // What the system's DragFinish does: the drop's memory is the receiver's to free.
  ::GlobalFree(drop);
  // One file is taken, the first: the field names one emulator.
  if (!names.empty()) SetFileName(StoredInitialDir(win32::Utf8(names.front())));
}

bool TJvFilenameEdit::ButtonClicked(HWND from) {
  if (from == nullptr || from != button_) return false;
  if (::GetFocus() != edit_) ::SetFocus(edit_);
  BrowseForFile();
  return true;
}

LRESULT CALLBACK TJvFilenameEdit::EditProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR, DWORD_PTR self) {
  auto* field = reinterpret_cast<TJvFilenameEdit*>(self);
  return GuardedMessage([&]() -> LRESULT {
    switch (message) {
      case WM_SYSKEYDOWN:
        if (wparam == VK_DOWN) {  // the click key, Alt+Down
          field->BrowseForFile();
          return 0;
        }
        break;
      case WM_COPY:
      case WM_CUT:
      case WM_PASTE:
      case WM_UNDO:
      case EM_UNDO:
        return 0;  // none of the clipboard commands is allowed
      case WM_CLEAR:
        ::SetWindowTextW(window, L"");
        return 0;
      case WM_CONTEXTMENU:
        return 0;
      case WM_DROPFILES:
        field->DropFiles(reinterpret_cast<HGLOBAL>(wparam));
        return 0;
      case WM_NCDESTROY:
        ::RemoveWindowSubclass(window, EditProc, kSubclassId);
        break;
      default:
        break;
    }
    return ::DefSubclassProc(window, message, wparam, lparam);
  });
}

LRESULT CALLBACK TJvFilenameEdit::ButtonProc(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam, UINT_PTR, DWORD_PTR self) {
  if (message == WM_DROPFILES) {
    // Dropped on the button, which lies over the box: the box takes them.
    return ::SendMessageW(reinterpret_cast<TJvFilenameEdit*>(self)->edit_, message, wparam, lparam);
  }
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(window, ButtonProc, kSubclassId);
  return ::DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace velotrax::win32ui
