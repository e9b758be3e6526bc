// Times every command of heightmap against the floor of its per-pixel SetPixelV calls.
//
// All rows are measured in interleaved rounds (one repetition of every row per round), and
// every repetition of a row right after one of the floor: its ratio is taken to that floor,
// and the row's ratio is the median of those. A change in the machine's load during the run
// (other builds on a shared machine) then weighs on a row and its floor alike.
#include "app/app.h"
#include "app/terrain.h"
#include "runtime/core/random.h"
#include "runtime/gadget/gadget.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

static const int ROUNDS = 31;
static const int START_ROUNDS = 12;

static double now_ms() {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

struct Summary {
    double median, q1, q3, low, high;
};

static double quantile(const std::vector<double> &sorted, double q) {
    double at = q * double(sorted.size() - 1);
    size_t below = size_t(at);
    if (below + 1 >= sorted.size()) return sorted.back();
    return sorted[below] + (at - double(below)) * (sorted[below + 1] - sorted[below]);
}

static Summary summarize(std::vector<double> times) {
    if (times.empty()) return {-1, -1, -1, -1, -1};
    std::sort(times.begin(), times.end());
    return {quantile(times, 0.5), quantile(times, 0.25), quantile(times, 0.75), times.front(),
            times.back()};
}

// Hands every message that is waiting to its window, as the next event wait would.
static void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The terrain every filter and command starts from, so each repetition does the same work.
static std::vector<int32_t> start_terrain;

static void restore_terrain() {
    memcpy(app.grid.data, start_terrain.data(), start_terrain.size() * sizeof(int32_t));
}

static void keep_terrain() {
    start_terrain.assign(app.grid.data, app.grid.data + GRID_SIZE * GRID_SIZE);
}

// The floor: one SetPixelV per cell into image 0's memory DC, in the renderer's order.
static void set_pixel_floor(intptr_t) {
    HDC dc = drawing_begin(image_output(0));
    if (!dc) return;
    for (int y = 1; y <= GRID_LAST; y++)
        for (int x = 1; x <= GRID_LAST; x++)
            SetPixelV(dc, x, y, COLORREF(x ^ y));
    drawing_end();
}

static void render_color(intptr_t) {
    terrain_render_color(app.grid, 0);
}
static void render_gray(intptr_t) {
    terrain_render_gray(app.grid, 0);
}
static void generate(intptr_t) {
    terrain_generate(app.grid);
}
static void pull_to_level(intptr_t) {
    terrain_pull_to_level(app.grid, 160, 0.05f);
}
static void jitter(intptr_t) {
    terrain_jitter(app.grid, 128, 2);
}
static void smooth(intptr_t) {
    terrain_smooth(app.grid);
}
static void invert(intptr_t) {
    terrain_invert(app.grid);
}

// One menu event as the command loop handles it: command, render, picture to the gadget,
// whose repaint happens inside gadget_set_state.
static void command(intptr_t menu) {
    app_menu_event(menu);
}

// The last step of every command alone: the picture handed to the gadget, which repaints.
static void show_picture(intptr_t) {
    gadget_set_state(0, reinterpret_cast<intptr_t>(image_handle(0)));
}

enum RowKind { ROW_FLOOR, ROW_RENDER, ROW_GENERATE, ROW_FILTER, ROW_COMMAND, ROW_OTHER };

struct Row {
    const char *name;
    RowKind kind;
    void (*run)(intptr_t);
    intptr_t argument;
    std::vector<double> times;
    std::vector<double> ratios; // each time over the floor measured just before it
};

// Row of what the next event wait does after a command: the messages the command left
// behind. It is reported, so that nothing the command causes goes unseen, but it belongs to
// the next wait, not to the command.
static const char *AFTER_COMMAND = "the next wait after a command";

static std::vector<Row> make_rows() {
    std::vector<Row> rows = {
        {"floor: 263169 x SetPixelV", ROW_FLOOR, set_pixel_floor, 0, {}, {}},
        {"terrain_render_color", ROW_RENDER, render_color, 0, {}, {}},
        {"terrain_render_gray", ROW_RENDER, render_gray, 0, {}, {}},
        {"terrain_generate", ROW_GENERATE, generate, 0, {}, {}},
        {"terrain_pull_to_level", ROW_FILTER, pull_to_level, 0, {}, {}},
        {"terrain_jitter", ROW_FILTER, jitter, 0, {}, {}},
        {"terrain_smooth", ROW_FILTER, smooth, 0, {}, {}},
        {"terrain_invert", ROW_FILTER, invert, 0, {}, {}},
        {"gadget_set_state (repaint)", ROW_OTHER, show_picture, 0, {}, {}},
    };
    static const char *command_names[APP_MENU_COUNT] = {
        "command Return (regenerate)", "command 1 (grey view)", "command 2 (colour view)",
        "command N (pull to level)",   "command Z (jitter)",    "command B (smooth)",
        "command I (invert)"};
    for (intptr_t m = 0; m < APP_MENU_COUNT; m++)
        rows.push_back({command_names[m], ROW_COMMAND, command, m, {}, {}});
    rows.push_back({AFTER_COMMAND, ROW_OTHER, nullptr, 0, {}, {}});
    return rows;
}

// Runs one row once with its set-up (the start terrain, the colour view, the messages left by
// what ran before) outside the timed part, and answers the time in milliseconds.
static double time_row(const Row &row) {
    pump();
    restore_terrain();
    app.color_view = 1;
    double t0 = now_ms();
    row.run(row.argument);
    return now_ms() - t0;
}

// One repetition of every row, each right after one of the floor.
static void run_round(std::vector<Row> &rows, bool record) {
    Row &floor = rows.front();
    Row &after_command = rows.back();
    for (Row &row : rows) {
        if (!row.run) continue;
        double floor_time = time_row(floor);
        double time = row.kind == ROW_FLOOR ? floor_time : time_row(row);
        double t1 = now_ms();
        if (record) {
            if (row.kind != ROW_FLOOR) floor.times.push_back(floor_time);
            row.times.push_back(time);
            row.ratios.push_back(time / floor_time);
        }
        if (row.kind != ROW_COMMAND) continue;
        pump();
        if (record) {
            double wait = now_ms() - t1;
            after_command.times.push_back(wait);
            after_command.ratios.push_back(wait / floor_time);
        }
    }
}

static std::string windows_path(std::string path) {
    if (!path.empty() && path[0] == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    return path;
}

static bool client_centre_color(HWND w, COLORREF *color) {
    RECT client;
    if (!GetClientRect(w, &client)) return false;
    POINT p = {client.right / 2, client.bottom / 2};
    ClientToScreen(w, &p);
    HDC screen = GetDC(nullptr);
    *color = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return *color != CLR_INVALID;
}

static const COLORREF band_colors[] = {
    RGB(0, 0, 100),     RGB(0, 0, 120),     RGB(0, 0, 140),     RGB(64, 95, 134),
    RGB(128, 190, 128), RGB(140, 210, 140), RGB(160, 210, 140), RGB(180, 210, 140),
    RGB(190, 220, 150), RGB(185, 185, 130), RGB(182, 177, 130), RGB(180, 170, 130),
    RGB(215, 215, 215), RGB(230, 230, 230), RGB(250, 250, 250), RGB(255, 255, 255),
};

// The terrain is on screen once the centre of the client area shows a colour of the
// colour view (the window's own background is no such colour).
static bool terrain_shown(HWND w) {
    COLORREF c;
    if (!client_centre_color(w, &c)) return false;
    for (COLORREF band : band_colors)
        if (c == band) return true;
    return false;
}

// The minimal program's picture is its background colour, which it paints itself.
static const COLORREF MINIMAL_COLOR = RGB(40, 90, 200);

static bool minimal_shown(HWND w) {
    COLORREF c;
    return client_centre_color(w, &c) && c == MINIMAL_COLOR;
}

struct Program {
    std::string path;
    const char *title;
    bool (*shown)(HWND);
};

static HWND process_window(const char *title, DWORD process) {
    HWND w = FindWindowA(nullptr, title);
    DWORD owner = 0;
    if (w) GetWindowThreadProcessId(w, &owner);
    return w && owner == process && IsWindowVisible(w) ? w : nullptr;
}

// Milliseconds from process creation until its picture is on screen, or -1.
static double start_time(const Program &program) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + program.path + "\"";
    double t0 = now_ms();
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    double elapsed = -1;
    while (now_ms() - t0 < 20000) {
        HWND w = process_window(program.title, pi.dwProcessId);
        if (w && program.shown(w)) {
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

static void print_row(const char *name, const Summary &s, const Summary &ratio,
                      const char *target) {
    char spread[32];
    if (ratio.q1 >= 0)
        sprintf(spread, "%.3f-%.3f", ratio.q1, ratio.q3);
    else
        sprintf(spread, "-");
    printf("%-32s %9.2f %9.2f %9.2f %9.2f %9.2f %8.3f %13s  %s\n", name, s.median, s.q1, s.q3,
           s.low, s.high, ratio.median, spread, target);
}

static const char *verdict(double ratio, double limit, char *buffer) {
    sprintf(buffer, "<= %.2f %s", limit, ratio <= limit ? "met" : "MISSED");
    return buffer;
}

static double ratio_limit(RowKind kind) {
    switch (kind) {
    case ROW_RENDER:
        return 1.05;
    case ROW_GENERATE:
    case ROW_FILTER:
        return 0.10;
    case ROW_COMMAND:
        return 1.15;
    default:
        return 0;
    }
}

static const double STARTUP_ALLOWANCE_MS = 150.0;
static const double NOISY_SPREAD = 1.05;

// The start-up rows, from the start-up times of both programs.
static void print_start_ups(const std::vector<double> &heightmap_times,
                            const std::vector<double> &minimal_times, double floor) {
    Summary heightmap_start = summarize(heightmap_times);
    Summary minimal_start = summarize(minimal_times);
    if (heightmap_start.median < 0 || minimal_start.median < 0) {
        printf("start-up: a program showed no picture\n");
        return;
    }
    char buffer[64];
    double over = heightmap_start.median - minimal_start.median;
    sprintf(buffer, "<= minimal + %.0f ms %s (+%.1f ms)", STARTUP_ALLOWANCE_MS,
            over <= STARTUP_ALLOWANCE_MS ? "met" : "MISSED", over);
    Summary no_spread = {heightmap_start.median / floor, -1, -1, -1, -1};
    print_row("start-up to first picture", heightmap_start, no_spread, buffer);
    no_spread.median = minimal_start.median / floor;
    print_row("start-up of a minimal window", minimal_start, no_spread, "");
}

int main(int argc, char **argv) {
    if (!app_start()) {
        fprintf(stderr, "bench: the program could not start\n");
        return 1;
    }
    random_seed(2024);
    terrain_generate(app.grid);
    keep_terrain();
    app_menu_event(2); // the start picture on screen
    pump();

    std::vector<Row> rows = make_rows();
    run_round(rows, false); // warm-up: caches, lazily made tables, first paints
    for (int r = 0; r < ROUNDS; r++)
        run_round(rows, true);
    app_end();

    std::vector<double> heightmap_times, minimal_times;
    if (argc >= 3) {
        Program heightmap = {windows_path(argv[1]), "Heightmap", terrain_shown};
        Program minimal = {windows_path(argv[2]), "Minimal", minimal_shown};
        start_time(heightmap); // warm-up: the file cache
        start_time(minimal);
        for (int r = 0; r < START_ROUNDS; r++) {
            double t = start_time(heightmap);
            if (t >= 0) heightmap_times.push_back(t);
            t = start_time(minimal);
            if (t >= 0) minimal_times.push_back(t);
        }
    }

    double floor = summarize(rows[0].times).median;
    printf("%d interleaved rounds; ratio: median of each time over the floor timed just before "
           "it (start-up: over the floor's median)\n",
           ROUNDS);
    printf("%-32s %9s %9s %9s %9s %9s %8s %13s  %s\n", "what", "median ms", "q1 ms", "q3 ms",
           "min ms", "max ms", "ratio", "ratio q1-q3", "target");
    double worst = 0;
    char buffer[64];
    for (const Row &row : rows) {
        Summary ratio = summarize(row.ratios);
        double limit = ratio_limit(row.kind);
        if (row.kind == ROW_COMMAND) worst = std::max(worst, ratio.median);
        print_row(row.name, summarize(row.times), ratio,
                  limit ? verdict(ratio.median, limit, buffer) : "");
    }
    if (argc >= 3) print_start_ups(heightmap_times, minimal_times, floor);
    // On a shared machine another process may compete during the run: a wide spread of the
    // floor's own times shows it, and such a run is better repeated.
    Summary floor_times = summarize(rows[0].times);
    double floor_spread = floor_times.q3 / floor_times.q1;
    printf("bench: floor q3/q1 %.3f%s\n", floor_spread,
           floor_spread > NOISY_SPREAD ? " (the machine was busy: repeat the run)" : "");
    printf("bench: worst command ratio %.3f\n", worst);
    return 0;
}
