// Drives the real heightmap.exe as a person would and checks what it shows.
#include "e2e_support.h"
#include <functional>
#include <math.h>
#include <stdint.h>
#include <vector>

static std::string program_path;
static std::string output_dir;

static const int SIDE = 513; // the picture: pixels 0..512, heights visible at 1..512

// A capture of the client area, pixels as 0x00RRGGBB.
struct Picture {
    std::vector<uint32_t> px = std::vector<uint32_t>(SIDE * SIDE);
    uint32_t at(int x, int y) const { return px[y * SIDE + x]; }
    bool operator==(const Picture &o) const { return px == o.px; }
};

static uint32_t rgb(int r, int g, int b) {
    return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

// The colour view's bands, lowest first: upper height of the band and its colour.
static const struct {
    int top;
    uint32_t color;
} bands[] = {
    {15, rgb(0, 0, 100)},      {31, rgb(0, 0, 120)},      {63, rgb(0, 0, 140)},
    {70, rgb(64, 95, 134)},    {95, rgb(128, 190, 128)},  {127, rgb(140, 210, 140)},
    {159, rgb(160, 210, 140)}, {180, rgb(180, 210, 140)}, {199, rgb(190, 220, 150)},
    {219, rgb(185, 185, 130)}, {229, rgb(182, 177, 130)}, {239, rgb(180, 170, 130)},
    {244, rgb(215, 215, 215)}, {249, rgb(230, 230, 230)}, {253, rgb(250, 250, 250)},
    {255, rgb(255, 255, 255)},
};

static uint32_t band_color(int h) {
    for (const auto &b : bands)
        if (h <= b.top) return b.color;
    return 0xFFFFFFFF;
}

static bool is_band_color(uint32_t c) {
    return std::any_of(std::begin(bands), std::end(bands), [c](auto &b) { return b.color == c; });
}

static int grey_height(uint32_t c) {
    return int(c & 0xFF);
}
static bool is_grey(uint32_t c) {
    return (c & 0xFF) == ((c >> 8) & 0xFF) && (c & 0xFF) == ((c >> 16) & 0xFF);
}

static int round_even(double v) {
    return int(nearbyint(v));
}
static int clamp255(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

// The header of a picture as a top-down 32-bit DIB.
static BITMAPINFOHEADER picture_header() {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = SIDE;
    header.biHeight = -SIDE;
    header.biPlanes = 1;
    header.biBitCount = 32;
    return header;
}

// The program under test, seen on the screen and driven through the input queue.
class Program : public ProgramProcess {
  public:
    bool start() { return ProgramProcess::start(program_path) && wait_for_window(10000); }
    // Lets the program finish what it has in its queue: a sent message is handled only
    // when its thread waits for input again.
    void settle() {
        for (int i = 0; i < 3; i++) {
            DWORD_PTR r;
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &r);
            Sleep(20);
        }
    }
    Picture capture() {
        Picture p;
        POINT origin = {0, 0};
        ClientToScreen(window, &origin);
        HDC screen = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(screen);
        BITMAPINFO bi = {picture_header(), {}};
        void *bits = nullptr;
        HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, SIDE, SIDE, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        const uint32_t *src = static_cast<const uint32_t *>(bits);
        for (int i = 0; i < SIDE * SIDE; i++)
            p.px[i] = src[i] & 0x00FFFFFF;
        SelectObject(mem, old);
        DeleteObject(dib);
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
        return p;
    }
    void press(WORD vk) {
        SetForegroundWindow(window);
        press_key(vk);
    }
    // Captures until `shown` holds of the picture (or a time limit), then once more after the
    // repaint has surely finished.
    Picture wait_for(const std::function<bool(const Picture &)> &shown) {
        for (int i = 0; i < 100 && (settle(), !shown(capture())); i++)
            Sleep(50);
        settle();
        return capture();
    }
    Picture press_and_wait(WORD vk, const Picture &before) {
        press(vk);
        return wait_for([&before](const Picture &now) { return !(now == before); });
    }
    // The first picture, once the colour view shows.
    Picture first_picture() {
        return wait_for([](const Picture &p) { return is_band_color(p.at(256, 256)); });
    }
};

static void save_bmp(const Picture &p, const char *name) {
    std::string path = output_dir + "\\" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = picture_header();
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + SIDE * SIDE * 4;
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&ih, sizeof ih, 1, f);
    fwrite(p.px.data(), 4, p.px.size(), f);
    fclose(f);
}

// Heights of a grey picture; cells 1..512 are the visible ones.
typedef std::vector<int> Heights;
static Heights heights_of(const Picture &p) {
    Heights h(p.px.size());
    std::transform(p.px.begin(), p.px.end(), h.begin(), grey_height);
    return h;
}

// Expects row and column 0 black and `holds`(x, y, pixel) of every other cell.
template <typename Holds> void expect_cells(const Picture &p, const char *what, Holds holds) {
    SCOPED_TRACE(what);
    for (int i = 0; i < SIDE; i++) {
        ASSERT_EQ(p.at(i, 0), 0u) << "row 0 at " << i;
        ASSERT_EQ(p.at(0, i), 0u) << "column 0 at " << i;
    }
    for (int y = 1; y < SIDE; y++)
        for (int x = 1; x < SIDE; x++)
            ASSERT_TRUE(holds(x, y, p.at(x, y))) << "at " << x << "," << y << ": " << p.at(x, y);
}

static void expect_grey_view(const Picture &p, const Heights &want, const char *what) {
    expect_cells(p, what, [&want](int x, int y, uint32_t c) {
        int h = want[y * SIDE + x];
        return c == rgb(h, h, h);
    });
}

// The window: a 513 x 513 client area, centred on the screen.
static void expect_window_placed(HWND window) {
    RECT client, outer;
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    EXPECT_EQ(client.right - client.left, 513);
    EXPECT_EQ(client.bottom - client.top, 513);
    int outer_w = outer.right - outer.left, outer_h = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - outer_w) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - outer_h) / 2);
}

// The grey view of the heights the colour view shows.
static void expect_grey_of(const Picture &grey, const Picture &colour) {
    expect_cells(grey, "grey view", [&colour](int x, int y, uint32_t c) {
        return is_grey(c) && band_color(grey_height(c)) == colour.at(x, y);
    });
}

static Heights inverted(Heights h) {
    for (int &v : h)
        v = 255 - v;
    return h;
}

// Pulled toward 160 by the float nearest 0.05.
static Heights pulled(Heights h) {
    for (int &v : h)
        v = clamp255(round_even(v + (160 - v) * double(0.05f)));
    return h;
}

// The in-place 5 x 5 mean over cells 3..509, scanning rows downward.
static Heights smoothed(Heights h) {
    for (int y = 3; y <= 509; y++)
        for (int x = 3; x <= 509; x++) {
            int s = 0;
            for (int j = y - 2; j <= y + 2; j++)
                for (int i = x - 2; i <= x + 2; i++)
                    s += h[j * SIDE + i];
            h[y * SIDE + x] = s / 25;
        }
    return h;
}

// Each height only takes a value of its jitter outcome set, and many change.
static void expect_jittered(const Picture &p, const Heights &h) {
    int changed = 0;
    expect_cells(p, "jitter", [&](int x, int y, uint32_t c) {
        int v = h[y * SIDE + x], got = grey_height(c);
        bool allowed = got == v;
        for (int r = 0; r <= 2; r++)
            allowed = allowed || got == round_even((v * 2.0 + clamp255(v + 2 - r) * 253.0) / 256.0);
        changed += got != v;
        return is_grey(c) && allowed;
    });
    EXPECT_GT(changed, 1000);
}

// A new terrain, still in the grey view.
static void expect_regenerated(const Picture &p, const Picture &before) {
    int differing = 0;
    expect_cells(p, "regenerate", [&](int x, int y, uint32_t c) {
        differing += c != before.at(x, y);
        return is_grey(c);
    });
    EXPECT_GT(differing, SIDE * SIDE / 4);
}

// Keys that are not commands change nothing.
static void expect_other_keys_ignored(Program &prog) {
    Picture before = prog.capture();
    for (WORD vk : {WORD('A'), WORD('Q'), WORD('3'), WORD(VK_SPACE), WORD(VK_F5), WORD(VK_BACK)}) {
        prog.press(vk);
        prog.settle();
    }
    Sleep(200);
    prog.settle();
    EXPECT_TRUE(prog.capture() == before);
}

// The height filters, each checked against what it must do to the heights.
static void run_the_filters(Program &prog, const Picture &grey) {
    const struct {
        WORD key;
        Heights (*filter)(Heights);
        const char *what;
    } filters[] = {
        {'I', inverted, "invert"}, {'N', pulled, "pull to level"}, {'B', smoothed, "smooth"}};
    Heights h = heights_of(grey);
    Picture p = grey;
    for (const auto &f : filters) {
        h = f.filter(h);
        p = prog.press_and_wait(f.key, p);
        expect_grey_view(p, h, f.what);
    }
    p = prog.press_and_wait('Z', p);
    expect_jittered(p, h);
    expect_regenerated(prog.press_and_wait(VK_RETURN, p), p);
}

TEST(Heightmap, RunsEveryCommandAndClosesWithCodeZero) {
    Program prog;
    ASSERT_TRUE(prog.start()) << "no window titled Heightmap from " << program_path;
    expect_window_placed(prog.window);
    Picture colour = prog.first_picture();
    expect_cells(colour, "colour view", [](int, int, uint32_t c) { return is_band_color(c); });
    save_bmp(colour, "heightmap-colour.bmp");

    Picture grey = prog.press_and_wait('1', colour);
    expect_grey_of(grey, colour);
    save_bmp(grey, "heightmap-grey.bmp");
    EXPECT_TRUE(prog.press_and_wait('2', grey) == colour);
    ASSERT_TRUE(prog.press_and_wait('1', colour) == grey);

    run_the_filters(prog, grey);
    expect_other_keys_ignored(prog);
    ASSERT_TRUE(click_close_box(prog.window));
    ASSERT_TRUE(prog.ended(10000));
    EXPECT_EQ(prog.exit_code(), 0u);
}

static BOOL CALLBACK count_resource_type(HMODULE, LPSTR type, LONG_PTR types) {
    reinterpret_cast<std::vector<LPSTR> *>(types)->push_back(type);
    return TRUE;
}

// The executable is a GUI program whose one resource is the manifest (type 24, id 1).
TEST(Heightmap, IsAWindowsProgramWithTheManifestAsItsOnlyResource) {
    HMODULE image = LoadLibraryExA(program_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    std::vector<LPSTR> types;
    EnumResourceTypesA(image, count_resource_type, reinterpret_cast<LONG_PTR>(&types));
    ASSERT_EQ(types.size(), 1u);
    EXPECT_TRUE(IS_INTRESOURCE(types[0]));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(types[0]), ULONG_PTR(24));
    HRSRC manifest = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char *>(LockResource(LoadResource(image, manifest))),
                     SizeofResource(image, manifest));
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("version=\"1.0.0.0\""), std::string::npos);
    // The program under test is the build of this test's own target.
    const char *processor =
        sizeof(void *) == 4 ? "processorArchitecture=\"X86\"" : "processorArchitecture=\"amd64\"";
    EXPECT_NE(text.find(processor), std::string::npos) << processor;
    // The headers, from the file as it was mapped for its resources.
    auto *base = reinterpret_cast<const uint8_t *>(uintptr_t(image) & ~uintptr_t(3));
    auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine,
              sizeof(void *) == 4 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    FreeLibrary(image);
}

int main(int argc, char **argv) {
    return run_end_to_end(argc, argv, "test_e2e heightmap.exe output-folder", &program_path,
                          &output_dir);
}
