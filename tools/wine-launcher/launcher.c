// Runs under Wine and starts a Windows program with an exact command line. Started as
//   wine velotrax-wine-launcher.exe PROGRAM COMMAND-LINE
// it starts PROGRAM (a path of this computer, or a Windows path) with COMMAND-LINE as it stands,
// in the same working directory and with the same standard handles, waits for it and ends with
// its exit code. A plain "wine PROGRAM WORDS" would hand the program its full Windows path as
// the first word instead of the name the command line gives. Should the launcher be ended, the
// program ends with it (the job object below), so nothing runs on unseen.
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

typedef WCHAR*(CDECL* DosFileName)(const char* unix_name);

static void Complain(const wchar_t* what, const wchar_t* program, DWORD error) {
  wchar_t* text = NULL;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      NULL, error, 0, (wchar_t*)&text, 0, NULL);
  fwprintf(stderr, L"velotrax-wine-launcher: %ls %ls: error %lu %ls\n", what, program,
           (unsigned long)error, text ? text : L"");
  if (text) LocalFree(text);
}

// Wine's own conversion of a path of this computer into a Windows path (Z:\...), when we run
// under Wine and the name is one; the name as given otherwise.
static wchar_t* WindowsPath(wchar_t* program) {
  if (program[0] != L'/') return program;
  DosFileName convert =
      (DosFileName)(void*)GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_dos_file_name");
  if (!convert) return program;
  const int size = WideCharToMultiByte(CP_UTF8, 0, program, -1, NULL, 0, NULL, NULL);
  char* unix_name = size > 0 ? (char*)malloc((size_t)size) : NULL;
  if (!unix_name) return program;
  WideCharToMultiByte(CP_UTF8, 0, program, -1, unix_name, size, NULL, NULL);
  wchar_t* converted = convert(unix_name);
  free(unix_name);
  return converted ? converted : program;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: velotrax-wine-launcher PROGRAM COMMAND-LINE\n");
    return 2;
  }
  wchar_t* program = WindowsPath(argv[1]);
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  wchar_t* command_line = _wcsdup(argv[2]);
  if (!command_line) return 126;

  HANDLE job = CreateJobObjectW(NULL, NULL);
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(program, command_line, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL,
                      &startup, &process)) {
    Complain(L"cannot start", program, GetLastError());
    return 126;
  }
  if (job) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 1;
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 1;
  CloseHandle(process.hProcess);
  return (int)exit_code;
}
