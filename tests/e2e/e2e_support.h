#pragma once
// Shared by the end-to-end test programs: the program under test as a process of its own,
// its window found by its title, and the test programs' entry.
#include <windows.h>
#include "../support/build_target.h"
#include "../support/input.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <stdint.h>
#include <stdio.h>
#include <string>

// A path as the test's command line gives it (a Unix path under Wine) in the form that
// CreateProcessA takes: /a/b becomes Z:\a\b; anything else is left as it is.
inline std::string windows_path(std::string path) {
    if (path.empty() || path[0] != '/') return path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// A started process and its top-level window titled "Heightmap"; ended when the test is.
struct ProgramProcess {
    PROCESS_INFORMATION pi = {};
    HWND window = nullptr;

    // On the desktop named, where one is: each desktop has a foreground window of its own.
    bool start(const std::string &path, const std::string &arguments = "",
               const char *desktop = nullptr) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.lpDesktop = const_cast<char *>(desktop);
        std::string command = "\"" + path + "\" " + arguments;
        return CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &pi) != 0;
    }
    bool ended(DWORD ms) { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
    DWORD exit_code() {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
    // Waits until the process shows its window or ends; true when the window is there.
    bool wait_for_window(DWORD ms) {
        for (DWORD waited = 0; waited < ms; waited += 20) {
            HWND w = FindWindowA(nullptr, "Heightmap");
            DWORD pid = 0;
            if (w) GetWindowThreadProcessId(w, &pid);
            if (w && pid == pi.dwProcessId && IsWindowVisible(w)) {
                window = w;
                return true;
            }
            if (ended(20)) return false;
        }
        return false;
    }
    // Answers a sent message within the time: the program is not hung.
    bool responsive(DWORD ms) {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, ms,
                                   &result) != 0;
    }
    // Waits until the program's thread has used almost no processor time for half a second:
    // it has worked through the input queued for it. A sent message cannot tell, as it is
    // answered before the queued input. False when the time ran out first.
    bool idle(DWORD ms) {
        const DWORD quiet = 500, busy = 50; // a quiet half second uses at most 50 ms
        for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
            uint64_t before = thread_time();
            if (ended(quiet)) return true;
            if (thread_time() - before <= uint64_t(busy) * 10000) return true;
        }
        return false;
    }
    // The processor time of the program's thread in 100 ns units.
    uint64_t thread_time() {
        FILETIME created, exited, kernel, user;
        if (!GetThreadTimes(pi.hThread, &created, &exited, &kernel, &user)) return 0;
        auto value = [](FILETIME t) { return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; };
        return value(kernel) + value(user);
    }
    ~ProgramProcess() {
        if (!pi.hProcess) return;
        if (!ended(0)) TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
};

// The middle of the caption's close box, found by asking the window itself: a point of it on a
// coarse grid first, then its edges from there. False when it has none.
inline bool close_box_centre(HWND window, POINT *centre) {
    RECT wr;
    GetWindowRect(window, &wr);
    auto close_at = [window](LONG x, LONG y) {
        return SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE;
    };
    for (LONG y = wr.top; y < wr.top + 40; y += 4)
        for (LONG x = wr.right - 1; x >= wr.right - 80; x -= 4) {
            if (!close_at(x, y)) continue;
            LONG left = x, right = x, top = y, bottom = y;
            while (close_at(left - 1, y))
                left--;
            while (close_at(right + 1, y))
                right++;
            while (close_at((left + right) / 2, top - 1))
                top--;
            while (close_at((left + right) / 2, bottom + 1))
                bottom++;
            *centre = {(left + right) / 2, (top + bottom) / 2};
            return true;
        }
    return false;
}

// Clicks the close box as a person would, pressing only once the pointer has arrived: the
// system tracks the button where it believes the pointer to be.
inline bool click_close_box(HWND window) {
    POINT centre;
    if (!close_box_centre(window, &centre)) return false;
    SetForegroundWindow(window);
    send_pointer(centre.x, centre.y, 0);
    POINT at = {};
    for (int i = 0; i < 100 && (GetCursorPos(&at), at.x != centre.x || at.y != centre.y); i++)
        Sleep(20);
    Sleep(200);
    send_pointer(centre.x, centre.y, MOUSEEVENTF_LEFTDOWN);
    Sleep(150);
    send_pointer(centre.x, centre.y, MOUSEEVENTF_LEFTUP);
    return true;
}

// The entry of an end-to-end program, whose command line names two paths after the test
// options.
inline int run_end_to_end(int argc, char **argv, const char *usage, std::string *first,
                          std::string *second) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    report_build_target();
    testing::InitGoogleTest(&argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: %s\n", usage);
        return 2;
    }
    *first = windows_path(argv[1]);
    *second = windows_path(argv[2]);
    return RUN_ALL_TESTS();
}
