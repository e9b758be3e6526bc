// Thousands of random commands through the program's own event path: what the process
// holds must stop growing once it has warmed up.
#include "tests/reliability/reliability_support.h"
#include "app/app.h"
#include "tests/e2e/e2e_support.h"
#include <algorithm>
#include <random>
#include <string>

namespace {

struct Sample {
    int32_t commands; // commands run when the sample was taken
    HeapUse heap;
    int64_t private_bytes, gdi, user;
};

// A soak's first commands measure the pace, which sets the warm-up (a tenth of what fits the
// budget) and where the samples go; it stops at the budget once `least` have run after the
// warm-up, so that a leak of one object per command still shows above the slack.
struct SoakPlan {
    int32_t least;           // commands after the warm-up, at the least
    int32_t most;            // commands in all, at the most
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

Sample take_sample(int32_t commands) {
    run_waiting_events();
    return {commands, runtime_heap_use(), private_bytes(), gdi_objects(), user_objects()};
}

struct SoakSize {
    int32_t commands, warmup, every;
};

SoakSize soak_size(const SoakPlan &plan, DWORD probe_time) {
    int64_t fit = int64_t(plan.budget) * PROBE_COMMANDS / std::max<DWORD>(probe_time, 1);
    int32_t commands = int32_t(std::min<int64_t>(fit, plan.most));
    int32_t warmup = std::max(PROBE_COMMANDS, commands / 10);
    commands = std::max(commands, warmup + plan.least);
    return {commands, warmup, std::max((commands - warmup) / plan.samples, 1)};
}

std::vector<Sample> soak(const SoakPlan &plan, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Sample> samples;
    DWORD start = GetTickCount();
    SoakSize size = {plan.most, plan.most, 1};
    for (int32_t done = 0; done < size.commands;) {
        int32_t command = int32_t(random() % APP_MENU_COUNT);
        intptr_t menu = run_command(command);
        if (menu < 0) {
            ADD_FAILURE() << "the keys stopped reaching the program after " << done;
            return samples;
        }
        EXPECT_EQ(menu, command);
        if (plan.after_command) plan.after_command();
        done++;
        if (done == PROBE_COMMANDS) size = soak_size(plan, GetTickCount() - start);
        if (done >= size.warmup + plan.least && GetTickCount() - start >= plan.budget)
            size.commands = done;
        if (done == size.commands ||
            (done >= size.warmup && (done - size.warmup) % size.every == 0))
            samples.push_back(take_sample(done));
    }
    return samples;
}

// What a sample measures, with the growth it tolerates.
struct Measure {
    const char *name;
    int64_t slack;
    int64_t (*of)(const Sample &s);
};

const Measure MEASURES[] = {
    {"heap bytes", HEAP_BYTES_SLACK, [](const Sample &s) { return s.heap.bytes; }},
    {"private bytes", PRIVATE_BYTES_SLACK, [](const Sample &s) { return s.private_bytes; }},
    {"GDI objects", OBJECT_SLACK, [](const Sample &s) { return s.gdi; }},
    {"USER objects", OBJECT_SLACK, [](const Sample &s) { return s.user; }}};

// Everything that grew from the first sample (the end of the warm-up) to any later one, a
// line each.
std::string growth(const std::vector<Sample> &samples) {
    if (samples.size() < 2) return "too few samples";
    std::string found;
    for (const Sample &s : samples)
        for (const Measure &m : MEASURES) {
            int64_t base = m.of(samples.front()), now = m.of(s);
            if (now - base > m.slack)
                found += std::string(m.name) + " after " + std::to_string(s.commands) +
                         " commands: " + std::to_string(base) + " -> " + std::to_string(now) + "\n";
        }
    return found;
}

class Soak : public ProgramTest {};

// One half of the soak: random commands for HM_SOAK_SECONDS (45), at least 80 after the warm-up
// (five times the slack) and at most half of HM_SOAK_COMMANDS, sampled four times. 45 seconds
// hold some 2,000 commands of the x86_64 build, 450 of the i686 one natively, 90 emulated.
void soak_half(const char *who, uint32_t seed) {
    int32_t most = std::max(run_parameter("HM_SOAK_COMMANDS", 10000) / 2, 100);
    DWORD budget = DWORD(run_parameter("HM_SOAK_SECONDS", 45)) * 1000;
    DWORD start = GetTickCount();
    std::vector<Sample> samples = soak({80, most, budget, 4, nullptr}, seed);
    std::string grew = growth(samples);
    EXPECT_TRUE(grew.empty()) << who << ":\n" << grew;
    if (samples.empty()) return;
    printf("soak (%s): %d commands in %lu ms", who, samples.back().commands,
           GetTickCount() - start);
    for (const Measure &m : MEASURES)
        printf("; %s %lld -> %lld", m.name, (long long)m.of(samples[0]),
               (long long)m.of(samples.back()));
    printf("\n");
}

// The soak's commands as two programs of half each, at once: a render of the whole picture
// takes most of a command's time, and the two share nothing but the display. The partner is
// this test program again, on a desktop of its own so that both keep their shortcuts, and
// shares this process's output.
TEST_F(Soak, ThousandsOfRandomCommandsLeaveNothingGrowing) {
    char path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    ProgramProcess partner;
    ASSERT_TRUE(partner.start(path,
                              "--gtest_brief=1 --gtest_filter=Soak.DISABLED_PartnerHalf "
                              "--gtest_also_run_disabled_tests",
                              "heightmap-soak"))
        << GetLastError();
    soak_half("this program", 20240601);
    ASSERT_TRUE(partner.ended(5 * 60 * 1000));
    EXPECT_EQ(partner.exit_code(), 0u) << "the partner program's soak failed (its report is above)";
}

// Run only by the test above, in its own process.
TEST_F(Soak, DISABLED_PartnerHalf) {
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
    std::vector<Sample> samples = soak({60, 80, INFINITE, 2, leak_one_of_each}, 7);
    std::string report = growth(samples);
    EXPECT_NE(report.find("GDI objects"), std::string::npos) << report;
    EXPECT_NE(report.find("USER objects"), std::string::npos) << report;
    EXPECT_NE(report.find("heap bytes"), std::string::npos) << report;
}

} // namespace
