// Times every command of heightmap against the floor of its per-pixel SetPixelV calls.
//
// All rows are measured in interleaved rounds (one repetition of every row per round), and
// every repetition of a row right after one of the floor: its ratio is taken to that floor,
// and the row's ratio is the median of those. A change in the machine's load during the run
// (other builds on a shared machine) then weighs on a row and its floor alike. Under each
// command a row gives what it took beyond its parts (render, filter, repaint after a render),
// round by round.
#include "app/app.h"
#include "app/terrain.h"
#include "runtime/core/random.h"
#include "runtime/gadget/gadget.h"
#include "runtime/image/drawing.h"
#include "runtime/image/image.h"
#include "runtime/window/window.h"
#include <windows.h>
#include <algorithm>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

static const int ROUNDS = 31;
static const int START_ROUNDS = 12;

static const bool BUILD_I686 = sizeof(void *) == 4;
static const char *const BUILD_NAME = BUILD_I686 ? "i686" : "x86_64";
static const char *const BUILD_SETTING = BUILD_I686 ? "the shipped i686 program under 32-bit Wine"
                                                    : "the x86_64 build under 64-bit Wine";

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

// Marks what a row does not have (a spread, times).
static const double NONE = NAN;
static const Summary NO_TIMES = {NONE, NONE, NONE, NONE, NONE};

static Summary summarize(std::vector<double> times) {
    if (times.empty()) return NO_TIMES;
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

// The last step of every command alone: the picture handed to the gadget, which repaints.
static void show_picture(intptr_t) {
    gadget_set_state(0, reinterpret_cast<intptr_t>(image_handle(0)));
}

// In a command the repaint follows the render at once; the platform repaints a picture it has
// just drawn more slowly than one drawn before the last message wait, so the repaint is timed
// that way too, as a part of the commands.
static void draw_picture(intptr_t) {
    terrain_render_color(app.grid, 0);
}

// One menu event as the command loop handles it: command, render, picture to the gadget,
// whose repaint happens inside gadget_set_state.
static void command(intptr_t menu) {
    app_menu_event(menu);
}

// A key of the program as its window receives it; the event wait that follows turns it
// into the key's menu event through the window's shortcuts.
static const intptr_t WAIT_KEY_MENU = 2;
static HWND program_window;

static void post_key(intptr_t menu) {
    PostMessageA(program_window, WM_KEYDOWN, WPARAM(app_command_key(menu)), 1);
}

static int keys_unanswered = 0;

static void wait_for_key(intptr_t menu) {
    if (event_wait() != EVENT_MENU || event_menu() != menu) keys_unanswered++;
}

// The events that the window queued while it opened (activation, position, size) come out of
// the wait before any key; a key posted after them marks their end.
static void take_queued_events() {
    post_key(WAIT_KEY_MENU);
    for (int32_t event = 0; event != EVENT_MENU && event != WM_KEYDOWN;)
        event = event_wait();
}

// ROW_BEYOND and ROW_PLATFORM are not timed: they are one row less others, round by round.
enum RowKind {
    ROW_FLOOR,
    ROW_RENDER,
    ROW_FILTER,
    ROW_COMMAND,
    ROW_BEYOND,   // a command beyond its parts: ours, with a target
    ROW_PLATFORM, // the platform's, shown without one
    ROW_OTHER
};

// The rows that the commands are made of, in the order of the table.
enum PartRow {
    PART_FLOOR,
    PART_RENDER_COLOR,
    PART_RENDER_GRAY,
    PART_GENERATE,
    PART_PULL,
    PART_JITTER,
    PART_SMOOTH,
    PART_INVERT,
    PART_REPAINT,
    PART_REPAINT_AFTER_RENDER,
    PART_COUNT,
    NO_PART = -1
};

struct Row {
    const char *name;
    RowKind kind;
    void (*prepare)(intptr_t); // untimed, after the start terrain is back
    void (*run)(intptr_t);
    intptr_t argument;
    // ROW_BEYOND, ROW_PLATFORM: the row and its parts, whose ratios of a round it subtracts.
    int whole;
    int parts[3];
    std::vector<double> times;
    std::vector<double> ratios; // each time over the floor measured just before it
};

static Row make_row(const char *name, RowKind kind, void (*run)(intptr_t), intptr_t argument = 0,
                    void (*prepare)(intptr_t) = nullptr) {
    return {name, kind, prepare, run, argument, NO_PART, {NO_PART, NO_PART, NO_PART}, {}, {}};
}

// The rows of the parts, in the order of PartRow.
static const Row PART_ROWS[PART_COUNT] = {
    make_row("floor: 263169 x SetPixelV", ROW_FLOOR, set_pixel_floor),
    make_row("terrain_render_color", ROW_RENDER, render_color),
    make_row("terrain_render_gray", ROW_RENDER, render_gray),
    make_row("terrain_generate", ROW_FILTER, generate),
    make_row("terrain_pull_to_level", ROW_FILTER, pull_to_level),
    make_row("terrain_jitter", ROW_FILTER, jitter),
    make_row("terrain_smooth", ROW_FILTER, smooth),
    make_row("terrain_invert", ROW_FILTER, invert),
    make_row("gadget_set_state (repaint)", ROW_OTHER, show_picture),
    make_row("gadget_set_state after a render", ROW_OTHER, show_picture, 0, draw_picture),
};

struct CommandParts {
    const char *name;
    PartRow filter;
    PartRow render;
};

// The commands by menu number, with the rows of what each one runs.
static const CommandParts COMMANDS[APP_MENU_COUNT] = {
    {"command Return (regenerate)", PART_GENERATE, PART_RENDER_COLOR},
    {"command 1 (grey view)", NO_PART, PART_RENDER_GRAY},
    {"command 2 (colour view)", NO_PART, PART_RENDER_COLOR},
    {"command N (pull to level)", PART_PULL, PART_RENDER_COLOR},
    {"command Z (jitter)", PART_JITTER, PART_RENDER_COLOR},
    {"command B (smooth)", PART_SMOOTH, PART_RENDER_COLOR},
    {"command I (invert)", PART_INVERT, PART_RENDER_COLOR},
};

static const char BEYOND_FILTERED[] = "  beyond render+filter+repaint";
static const char BEYOND_VIEW[] = "  beyond render+repaint";
static const char BEYOND_REPAINT[] = "  beyond the repaint alone";

static Row difference_row(const char *name, RowKind kind, int whole, PartRow part0, PartRow part1,
                          PartRow part2) {
    Row row = make_row(name, kind, nullptr);
    row.whole = whole;
    row.parts[0] = part0;
    row.parts[1] = part1;
    row.parts[2] = part2;
    return row;
}

// Row of what the next event wait does after a command: the messages the command left
// behind. It is reported, so that nothing the command causes goes unseen, but it belongs to
// the next wait, not to the command.
static const char AFTER_COMMAND[] = "the next wait after a command";

static std::vector<Row> make_rows() {
    std::vector<Row> rows(PART_ROWS, PART_ROWS + PART_COUNT);
    rows.push_back(difference_row(BEYOND_REPAINT, ROW_PLATFORM, PART_REPAINT_AFTER_RENDER,
                                  PART_REPAINT, NO_PART, NO_PART));
    rows.push_back(make_row("event_wait (a key to its menu)", ROW_OTHER, wait_for_key,
                            WAIT_KEY_MENU, post_key));
    for (intptr_t m = 0; m < APP_MENU_COUNT; m++) {
        const CommandParts &parts = COMMANDS[m];
        rows.push_back(make_row(parts.name, ROW_COMMAND, command, m));
        rows.push_back(difference_row(parts.filter == NO_PART ? BEYOND_VIEW : BEYOND_FILTERED,
                                      ROW_BEYOND, int(rows.size()) - 1, parts.render,
                                      PART_REPAINT_AFTER_RENDER, parts.filter));
    }
    rows.push_back(make_row(AFTER_COMMAND, ROW_OTHER, nullptr));
    return rows;
}

// Runs one row once with its set-up (the start terrain, the colour view, the messages left by
// what ran before) outside the timed part, and answers the time in milliseconds.
static double time_row(const Row &row) {
    pump();
    restore_terrain();
    app.color_view = 1;
    if (row.prepare) row.prepare(row.argument);
    double t0 = now_ms();
    row.run(row.argument);
    return now_ms() - t0;
}

// One repetition of every timed row, each right after one of the floor.
static void run_round(std::vector<Row> &rows, bool record) {
    Row &floor = rows[PART_FLOOR];
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

static bool is_difference(RowKind kind) {
    return kind == ROW_BEYOND || kind == ROW_PLATFORM;
}

// A row's ratio less the ratios of its parts, round by round.
static void subtract_parts(std::vector<Row> &rows) {
    for (Row &row : rows) {
        if (!is_difference(row.kind)) continue;
        const Row &whole = rows[row.whole];
        for (size_t r = 0; r < whole.ratios.size(); r++) {
            double beyond = whole.ratios[r];
            for (int part : row.parts)
                if (part != NO_PART) beyond -= rows[part].ratios[r];
            row.ratios.push_back(beyond);
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
    char spread[32] = "-";
    if (!isnan(ratio.q1)) sprintf(spread, "%.3f..%.3f", ratio.q1, ratio.q3);
    char times[64] = "";
    if (!isnan(s.median))
        sprintf(times, "%9.2f %9.2f %9.2f %9.2f %9.2f", s.median, s.q1, s.q3, s.low, s.high);
    printf("%-32s %49s %8.3f %13s  %s\n", name, times, ratio.median, spread, target);
}

// The targets, as ratios to the floor. The i686 floor is several times the x86_64 one, so the
// same work beside it weighs less.
static const double RENDER_LIMIT = 1.05;
static const double FILTER_LIMIT = 0.10;
static const double COMMAND_LIMIT = BUILD_I686 ? 1.05 : 1.15;

// The largest ratio to the floor that a row of the kind may have; 0 for none.
static double ratio_limit(RowKind kind) {
    switch (kind) {
    case ROW_RENDER:
        return RENDER_LIMIT;
    case ROW_FILTER:
        return FILTER_LIMIT;
    case ROW_COMMAND:
        return COMMAND_LIMIT;
    default:
        return 0;
    }
}

static const char *verdict(double value, double limit, char *buffer) {
    sprintf(buffer, "<= %.2f %s", limit, value <= limit ? "met" : "MISSED");
    return buffer;
}

// A command is no further above its parts than the measurement's spread: the half of the
// interquartile range of its difference to them.
static const char *beyond_verdict(const Summary &beyond, char *buffer) {
    double spread = (beyond.q3 - beyond.q1) / 2;
    sprintf(buffer, "<= spread %.3f %s", spread, beyond.median <= spread ? "met" : "MISSED");
    return buffer;
}

static const double STARTUP_ALLOWANCE_MS = 150.0;
static const double NOISY_SPREAD = 1.05;

// The start-up rows, from the start-up times of both programs.
static void print_start_ups(const std::vector<double> &heightmap_times,
                            const std::vector<double> &minimal_times, double floor) {
    Summary heightmap_start = summarize(heightmap_times);
    Summary minimal_start = summarize(minimal_times);
    if (isnan(heightmap_start.median) || isnan(minimal_start.median)) {
        printf("start-up: a program showed no picture\n");
        return;
    }
    char buffer[64];
    double over = heightmap_start.median - minimal_start.median;
    sprintf(buffer, "<= minimal + %.0f ms %s (%+.1f ms)", STARTUP_ALLOWANCE_MS,
            over <= STARTUP_ALLOWANCE_MS ? "met" : "MISSED", over);
    Summary no_spread = {heightmap_start.median / floor, NONE, NONE, NONE, NONE};
    print_row("start-up to first picture", heightmap_start, no_spread, buffer);
    no_spread.median = minimal_start.median / floor;
    print_row("start-up of a minimal window", minimal_start, no_spread, "");
}

static void print_table(const std::vector<Row> &rows, double *worst) {
    printf("%s: %d interleaved rounds; ratio: median of each time over the floor timed just "
           "before it (start-up: over the floor's median)\n",
           BUILD_SETTING, ROUNDS);
    printf("%-32s %9s %9s %9s %9s %9s %8s %13s  %s\n", "what", "median ms", "q1 ms", "q3 ms",
           "min ms", "max ms", "ratio", "ratio q1..q3", "target");
    char buffer[64];
    for (const Row &row : rows) {
        Summary ratio = summarize(row.ratios);
        const char *target = "";
        if (row.kind == ROW_BEYOND) {
            target = beyond_verdict(ratio, buffer);
        } else if (ratio_limit(row.kind)) {
            target = verdict(ratio.median, ratio_limit(row.kind), buffer);
        }
        if (row.kind == ROW_COMMAND) *worst = std::max(*worst, ratio.median);
        print_row(row.name, is_difference(row.kind) ? NO_TIMES : summarize(row.times), ratio,
                  target);
    }
}

int main(int argc, char **argv) {
    if (!app_start()) {
        fprintf(stderr, "bench: the program could not start\n");
        return 1;
    }
    program_window = FindWindowA(nullptr, "Heightmap");
    random_seed(2024);
    terrain_generate(app.grid);
    keep_terrain();
    app_menu_event(2); // the start picture on screen
    pump();
    take_queued_events();

    std::vector<Row> rows = make_rows();
    run_round(rows, false); // warm-up: caches, lazily made tables, first paints
    for (int r = 0; r < ROUNDS; r++)
        run_round(rows, true);
    app_end();
    subtract_parts(rows);

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

    double worst = 0;
    print_table(rows, &worst);
    double floor = summarize(rows[PART_FLOOR].times).median;
    if (argc >= 3) print_start_ups(heightmap_times, minimal_times, floor);
    if (keys_unanswered)
        printf("bench: %d event waits of a key did not answer its menu event\n", keys_unanswered);
    // On a shared machine another process may compete during the run: a wide spread of the
    // floor's own times shows it, and such a run is better repeated.
    Summary floor_times = summarize(rows[PART_FLOOR].times);
    double floor_spread = floor_times.q3 / floor_times.q1;
    printf("bench: floor %.2f ms, q3/q1 %.3f%s (%s)\n", floor, floor_spread,
           floor_spread > NOISY_SPREAD ? " (the machine was busy: repeat the run)" : "",
           BUILD_NAME);
    printf("bench: worst command ratio %.3f (%s)\n", worst, BUILD_NAME);
    return 0;
}
