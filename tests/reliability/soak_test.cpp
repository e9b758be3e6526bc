// Thousands of random commands through the program's own event path: what the process
// holds must stop growing once it has warmed up.
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include <algorithm>
#include <random>
#include <string>

namespace {

struct Sample {
    int32_t commands; // commands run when the sample was taken
    HeapUse heap;
    int64_t private_bytes;
    int64_t gdi;
    int64_t user; // -1 where not sampled: counting USER objects takes seconds under Wine
};

// How many commands a soak runs: as many as fit its time budget, measured on its first
// commands, but no fewer than `least` (a leak of one object per command must still show
// above the slack) and no more than `most`.
struct SoakPlan {
    int32_t least;
    int32_t most;
    DWORD budget;            // milliseconds
    int32_t samples;         // taken after the warm-up, evenly spread to the end
    void (*after_command)(); // runs after every command; null for none
};

// The commands timed before the soak's size is chosen; they count toward the warm-up.
const int32_t PROBE_COMMANDS = 20;

// What may still change between the warm-up and the end without counting as growth:
// heap blocks come and go with queued events, the platform's own memory settles.
const int64_t HEAP_BYTES_SLACK = 1024;
const int64_t PRIVATE_BYTES_SLACK = 4 << 20;
const int64_t OBJECT_SLACK = 16;

Sample take_sample(int32_t commands, bool with_user) {
    run_waiting_events();
    return {commands, runtime_heap_use(), private_bytes(), gdi_objects(),
            with_user ? user_objects() : -1};
}

struct SoakSize {
    int32_t commands, warmup, every;
};

SoakSize soak_size(const SoakPlan &plan, DWORD probe_time) {
    int64_t fit = int64_t(plan.budget) * PROBE_COMMANDS / std::max<DWORD>(probe_time, 1);
    int32_t commands = int32_t(std::min<int64_t>(std::max<int64_t>(fit, plan.least), plan.most));
    int32_t warmup = std::max(PROBE_COMMANDS, commands / 10);
    return {commands, warmup, std::max((commands - warmup) / plan.samples, 1)};
}

std::vector<Sample> soak(const SoakPlan &plan, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Sample> samples;
    // Counting objects makes and frees tens of thousands of them once, which commits
    // memory of its own: that happens before the first sample, not between samples.
    gdi_objects();
    user_objects();
    activate_program_window();
    int32_t refused = 0;
    DWORD start = GetTickCount();
    SoakSize size = {plan.most, plan.most, 1};
    for (int32_t done = 0; done < size.commands;) {
        int32_t command = int32_t(random() % APP_MENU_COUNT);
        intptr_t menu = run_command_key(command_key(command));
        if (menu < 0) {
            // The window lost activation, and with it its shortcuts: take it back.
            if (++refused > 100) {
                ADD_FAILURE() << "the keys stopped reaching the program after " << done;
                return samples;
            }
            activate_program_window();
            continue;
        }
        EXPECT_EQ(menu, command);
        if (plan.after_command) plan.after_command();
        done++;
        if (done == PROBE_COMMANDS) size = soak_size(plan, GetTickCount() - start);
        bool first = done == size.warmup;
        bool last = done == size.commands;
        if (first || last || (done > size.warmup && (done - size.warmup) % size.every == 0)) {
            samples.push_back(take_sample(done, first || last));
            printf("soak: %d commands, heap %lld bytes, private %lld bytes, GDI %lld\n", done,
                   (long long)samples.back().heap.bytes, (long long)samples.back().private_bytes,
                   (long long)samples.back().gdi);
        }
    }
    return samples;
}

// Everything that grew from the first sample (the end of the warm-up) to any later one.
std::vector<std::string> growth(const std::vector<Sample> &samples) {
    std::vector<std::string> found;
    if (samples.size() < 2) return {"too few samples"};
    const Sample &base = samples.front();
    for (const Sample &s : samples) {
        std::string at = " after " + std::to_string(s.commands) + " commands: ";
        if (s.heap.bytes - base.heap.bytes > HEAP_BYTES_SLACK)
            found.push_back("heap bytes" + at + std::to_string(base.heap.bytes) + " -> " +
                            std::to_string(s.heap.bytes));
        if (s.private_bytes - base.private_bytes > PRIVATE_BYTES_SLACK)
            found.push_back("private bytes" + at + std::to_string(base.private_bytes) + " -> " +
                            std::to_string(s.private_bytes));
        if (s.gdi - base.gdi > OBJECT_SLACK)
            found.push_back("GDI objects" + at + std::to_string(base.gdi) + " -> " +
                            std::to_string(s.gdi));
        if (s.user >= 0 && s.user - base.user > OBJECT_SLACK)
            found.push_back("USER objects" + at + std::to_string(base.user) + " -> " +
                            std::to_string(s.user));
    }
    return found;
}

std::string joined(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    return text;
}

class Soak : public ProgramTest {};

void report(const char *who, DWORD elapsed, const std::vector<Sample> &samples) {
    if (samples.empty()) return;
    const Sample &base = samples.front(), &end = samples.back();
    printf("soak (%s): %d commands in %lu ms; heap %lld -> %lld bytes, private %lld -> %lld, "
           "GDI %lld -> %lld, USER %lld -> %lld\n",
           who, end.commands, elapsed, (long long)base.heap.bytes, (long long)end.heap.bytes,
           (long long)base.private_bytes, (long long)end.private_bytes, (long long)base.gdi,
           (long long)end.gdi, (long long)base.user, (long long)end.user);
}

// One half of the soak: random commands for about a minute (HM_SOAK_SECONDS), at least 100 (80
// after the warm-up, five times the slack) and at most 5,000 (half of HM_SOAK_COMMANDS), after
// a warm-up of a tenth of them, four samples after it. A minute holds some 2,500 commands of the
// x86_64 build, 600 of the i686 program under 32-bit Wine and 120 under emulation.
void soak_half(const char *who, uint32_t seed) {
    int32_t most = std::max(run_parameter("HM_SOAK_COMMANDS", 10000) / 2, 40);
    DWORD budget = DWORD(run_parameter("HM_SOAK_SECONDS", 60)) * 1000;
    DWORD start = GetTickCount();
    std::vector<Sample> samples = soak({std::min(100, most), most, budget, 4, nullptr}, seed);
    std::vector<std::string> grew = growth(samples);
    EXPECT_TRUE(grew.empty()) << who << ":\n" << joined(grew);
    report(who, GetTickCount() - start, samples);
}

const char *const PARTNER_TEST = "Soak.DISABLED_PartnerHalf";
// Set by the partner once its program is running, just before its first command.
const char *const PARTNER_READY = "heightmap-soak-partner-ready";

// This test program again, running the partner half on a desktop of its own: every desktop
// has its own foreground window, so both programs keep their shortcuts while they run side
// by side. The partner shares this process's output.
bool start_partner(PROCESS_INFORMATION *partner) {
    char path[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, path, sizeof path)) return false;
    std::string command = std::string("\"") + path +
                          "\" --gtest_brief=1 --gtest_filter=" + PARTNER_TEST +
                          " --gtest_also_run_disabled_tests";
    char desktop[] = "heightmap-soak";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, partner);
}

// The soak's commands as two programs of half each, at once: a render of the whole picture
// takes most of a command's time, and the two share nothing but the display.
TEST_F(Soak, ThousandsOfRandomCommandsLeaveNothingGrowing) {
    // USER objects are counted from one table for both programs: the partner's window and
    // gadget must exist before this program's first sample, or they would count as growth.
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, PARTNER_READY);
    ASSERT_NE(ready, nullptr);
    PROCESS_INFORMATION partner = {};
    ASSERT_TRUE(start_partner(&partner)) << GetLastError();
    HANDLE either[2] = {ready, partner.hProcess};
    EXPECT_EQ(WaitForMultipleObjects(2, either, FALSE, 120 * 1000), WAIT_OBJECT_0)
        << "the partner program did not start its soak";
    CloseHandle(ready);
    soak_half("this program", 20240601);
    EXPECT_EQ(WaitForSingleObject(partner.hProcess, 5 * 60 * 1000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(partner.hProcess, &code);
    EXPECT_EQ(code, 0u) << "the partner program's soak failed (its report is above)";
    TerminateProcess(partner.hProcess, 1); // only if it is still running
    CloseHandle(partner.hThread);
    CloseHandle(partner.hProcess);
}

// Run only by the test above, in its own process.
TEST_F(Soak, DISABLED_PartnerHalf) {
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, PARTNER_READY);
    if (ready) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    soak_half("partner program", 20240602);
}

void leak_one_of_each() {
    CreateSolidBrush(RGB(1, 2, 3));
    ACCEL entry = {FVIRTKEY, 'Q', 1};
    CreateAcceleratorTableA(&entry, 1);
    heap_alloc(app_heap(), 0, 24);
}

// The detector itself: the same soak with one brush, one accelerator table and one heap
// block leaked per command reports all three.
TEST_F(Soak, ALeakOfOneObjectPerCommandIsCaught) {
    std::vector<Sample> samples = soak({80, 80, INFINITE, 2, leak_one_of_each}, 7);
    std::string report = joined(growth(samples));
    EXPECT_NE(report.find("GDI objects"), std::string::npos) << report;
    EXPECT_NE(report.find("USER objects"), std::string::npos) << report;
    EXPECT_NE(report.find("heap bytes"), std::string::npos) << report;
}

} // namespace
