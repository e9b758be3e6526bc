// Times every command of heightmap against the floor of its per-pixel SetPixelV calls.
#include "app/app.h"
#include "app/terrain.h"
#include "runtime/core/random.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

static const int REPETITIONS = 25;

static double now_ms() {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

struct Timing {
    std::string name;
    double median, low, high;
};

template <typename F> static Timing measure(const char *name, F f, void (*before)() = nullptr) {
    std::vector<double> times;
    for (int i = 0; i < REPETITIONS; i++) {
        if (before) before();
        double t0 = now_ms();
        f();
        times.push_back(now_ms() - t0);
    }
    std::sort(times.begin(), times.end());
    return {name, times[times.size() / 2], times.front(), times.back()};
}

// The floor: one SetPixelV per cell into image 0's memory DC, in the renderer's order.
static void set_pixel_floor() {
    HDC dc = drawing_begin(image_output(0));
    if (!dc) return;
    for (int y = 1; y <= 513; y++)
        for (int x = 1; x <= 513; x++)
            SetPixelV(dc, x, y, COLORREF(x ^ y));
    drawing_end();
}

static void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

static void fresh_terrain() {
    terrain_generate(app.grid);
}

static std::string windows_path(std::string path) {
    if (!path.empty() && path[0] == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    return path;
}

// Milliseconds from process creation until `ready` holds, then the process is closed.
template <typename Ready>
static double start_time(const std::string &exe, const char *title, Ready ready) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + exe + "\"";
    double t0 = now_ms();
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    double elapsed = -1;
    for (int i = 0; i < 20000; i++) {
        HWND w = FindWindowA(nullptr, title);
        DWORD pid = 0;
        if (w) GetWindowThreadProcessId(w, &pid);
        if (w && pid == pi.dwProcessId && IsWindowVisible(w) && ready(w)) {
            elapsed = now_ms() - t0;
            PostMessageA(w, WM_CLOSE, 0, 0);
            break;
        }
        Sleep(1);
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return elapsed;
}

// The picture is on screen once the centre of the client area shows a terrain colour.
static bool picture_shown(HWND w) {
    POINT p = {256, 256};
    ClientToScreen(w, &p);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    return c != CLR_INVALID && c != face && c != 0;
}

static bool window_shown(HWND) {
    return true;
}

static Timing measure_start(const char *name, const std::string &exe, const char *title,
                            bool (*ready)(HWND)) {
    std::vector<double> times;
    for (int i = 0; i < 10; i++) {
        double t = start_time(exe, title, ready);
        if (t >= 0) times.push_back(t);
    }
    if (times.empty()) return {name, -1, -1, -1};
    std::sort(times.begin(), times.end());
    return {name, times[times.size() / 2], times.front(), times.back()};
}

int main(int argc, char **argv) {
    if (!app_start()) {
        fprintf(stderr, "bench: the program could not start\n");
        return 1;
    }
    pump();
    std::vector<Timing> rows;
    Timing floor = measure("floor: 263169 x SetPixelV", set_pixel_floor);
    rows.push_back(floor);
    rows.push_back(measure("terrain_render_color", [] { terrain_render_color(app.grid, 0); }));
    rows.push_back(measure("terrain_render_gray", [] { terrain_render_gray(app.grid, 0); }));
    rows.push_back(measure("terrain_generate", [] { terrain_generate(app.grid); }));
    rows.push_back(measure(
        "terrain_pull_to_level", [] { terrain_pull_to_level(app.grid, 160, 0.05f); },
        fresh_terrain));
    rows.push_back(measure(
        "terrain_jitter", [] { terrain_jitter(app.grid, 128, 2); }, fresh_terrain));
    rows.push_back(measure(
        "terrain_smooth", [] { terrain_smooth(app.grid); }, fresh_terrain));
    rows.push_back(measure(
        "terrain_invert", [] { terrain_invert(app.grid); }, fresh_terrain));

    static const char *command_names[APP_MENU_COUNT] = {
        "command Return (regenerate)", "command 1 (grey view)", "command 2 (colour view)",
        "command N (pull to level)",   "command Z (jitter)",    "command B (smooth)",
        "command I (invert)"};
    size_t first_command = rows.size();
    for (intptr_t m = 0; m < APP_MENU_COUNT; m++) {
        static intptr_t menu;
        menu = m;
        rows.push_back(measure(
            command_names[m],
            [] {
                app_menu_event(menu);
                pump();
            },
            fresh_terrain));
    }
    app_end();

    Timing heightmap_start = {"start-up to first picture", -1, -1, -1};
    Timing minimal_start = {"start-up of a minimal window", -1, -1, -1};
    if (argc >= 3) {
        heightmap_start = measure_start(heightmap_start.name.c_str(), windows_path(argv[1]),
                                        "Heightmap", picture_shown);
        minimal_start = measure_start(minimal_start.name.c_str(), windows_path(argv[2]), "Minimal",
                                      window_shown);
    }

    printf("%-32s %10s %10s %10s %8s\n", "what", "median ms", "min ms", "max ms", "ratio");
    double worst = 0;
    for (size_t i = 0; i < rows.size(); i++) {
        const Timing &t = rows[i];
        double ratio = t.median / floor.median;
        if (i >= first_command) worst = std::max(worst, ratio);
        printf("%-32s %10.2f %10.2f %10.2f %8.3f\n", t.name.c_str(), t.median, t.low, t.high,
               ratio);
    }
    for (const Timing &t : {heightmap_start, minimal_start})
        printf("%-32s %10.2f %10.2f %10.2f %8s\n", t.name.c_str(), t.median, t.low, t.high, "-");
    if (heightmap_start.median >= 0 && minimal_start.median >= 0)
        printf("bench: start-up over the minimal program %.1f ms\n",
               heightmap_start.median - minimal_start.median);
    printf("bench: worst command ratio %.3f\n", worst);
    return 0;
}
