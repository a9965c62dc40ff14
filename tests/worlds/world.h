// Generated worlds: a shop of documents, what the user does with the plug-in
// in it and how the host behaves meanwhile, made from one seed; the model of
// what the host must hold afterwards; and the world played through the
// plug-in on the stand-in host, checked against the model.
//
// A world is data: it is written to and read from a text of its own (kept
// cases, tests/worlds/cases/), since a seed means another world as soon as
// the generator changes. Everything here is portable: the Windows runner
// loads Quendrix.dll beside the stand-in, the native one (fuzz/) links the
// plug-in's portable core; each supplies the few functions under "the
// plug-in, as each build has it".
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frame/plugin_messages.h"
#include "host/host_records.h"
#include "standin/veldan_control.h"

namespace worlds {

// ------------------------------------------------------------------ a world

struct WorldLine {
    int16_t article = 0;  // first part of the article key; 0: a text line
    int16_t variant = 0;  // second part
    int32_t quantity = 0;
    std::string text;  // bytes of the field, up to its whole width (unterminated)
};

struct WorldHeader {
    bool cleared = false;  // all zero, as a comparison leaves a used-up order
    int32_t id = 0;
    int32_t second = 0;
    int16_t customer = 0;
    int16_t marker = 0;
    int32_t date = 0;    // yyyymmdd, as the stand-in keeps it
    uint64_t gross = 0;  // the stored gross value's bits
    std::string number, remarks;
    std::vector<WorldLine> lines;
};

struct SelectionItem {
    uint8_t flag = 0;
    int32_t value = 0;
    std::string remarks;
};

enum class ActKind { kCompare, kCommand, kStore };

struct Act {
    ActKind kind = ActKind::kCompare;
    int document = 0;  // compare, store: the header opened, by its position
    // compare: the answers to the repeat question and the order list, the
    // row chosen, and a header that another workstation clears while the
    // list is open (-1: none).
    int16_t question = kAnswerYes;
    int16_t list = kAnswerYes;
    int16_t row = 0;
    int gone = -1;
    uint16_t result = 0, phase = 0;  // command 350
    std::vector<SelectionItem> selection;
};

// A host operation failing: the nth call of it within one act.
struct WorldFault {
    int act = -1;  // -1: none
    int32_t ordinal = 0;
    int nth = 0;
};

struct World {
    uint64_t seed = 0;  // what it was made from, for the reader only
    int pytaj = -1;     // "Pytaj" in the host's settings; -1: none stored
    int16_t notice_answer = 0;
    bool journal = false;
    VsVariation variation{};
    WorldFault fault;
    std::vector<WorldHeader> headers;
    std::vector<Act> acts;
};

// The source of a world's choices: a seed's generator, or the bytes of a
// fuzzer's input (zero once they run out).
class Dice {
  public:
    explicit Dice(uint64_t seed) : state_(seed) {}
    Dice(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t Next();
    int Below(int n) { return n <= 1 ? 0 : static_cast<int>(Next() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }

  private:
    uint64_t state_ = 0;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

World Generate(Dice& dice);
inline World Generate(uint64_t seed) {
    Dice dice(seed);
    World world = Generate(dice);
    world.seed = seed;
    return world;
}

// The world's text, and the world read back from it (false, with the line
// and what is wrong with it, when it is not one).
std::string WorldText(const World& world);
bool ReadWorld(const std::string& text, World& world, std::string& why);

// The host's records of a world, every byte that no field names patterned.
DocumentHeader HeaderRecord(const WorldHeader& header);
DocumentItem LineRecord(const WorldLine& line);

// ------------------------------------------------------------------ what the host holds

// A dialog as the host showed it.
struct Shown {
    int32_t ordinal = 0;
    std::string caption, text, format;
    int32_t flags = 0, dialog = 0, rows = 0;
    std::vector<std::string> row_texts;  // "" where a row was not asked for
    std::vector<bool> asked;
};

// The host's documents and record buffer after an act, with what the host
// itself may have recomputed in them: a line's value, a header's gross value.
struct Holding {
    std::vector<DocumentHeader> headers;
    std::map<int32_t, std::vector<DocumentItem>> lines;  // without cleared lines
    DocumentHeader buffer{};
};

struct ActOutcome {
    bool played = false;  // false: its document could not be opened
    int32_t result = 0;
    std::vector<Shown> dialogs;
    int line_events = 0, header_events = 0;  // that reached the host's own hooks
    Holding holding;
    std::string unreturned;
};

// What the model says the host must hold after each act, and what the
// plug-in may have left to the host there.
struct Expected {
    std::vector<Shown> install_dialogs;
    std::vector<ActOutcome> acts;
    std::vector<int32_t> host_valued;  // documents whose line values the host recomputed
    std::vector<int> host_grossed;     // header positions whose gross value it did
    std::string journal_header;        // the journal file's first row
    std::vector<std::string> journal;  // rows without date and time, Windows-1250
};

// What the plug-in and the host did.
struct Played {
    Holding initial;  // the world's documents as put into the stand-in
    std::vector<Shown> install_dialogs;
    std::vector<ActOutcome> acts;
    std::string journal;  // the journal file's bytes
    int process_state_violations = 0;
    bool hooks_back = false, command_gone = false;
};

// The model. date_text gives the host's text for a date (HostFormatDate).
Expected Model(const World& world, const std::function<std::string(int32_t)>& date_text);

// Plays the world through the plug-in on the stand-in; everything it needs of
// the stand-in is set up here and the state of the process given back.
Played Play(const World& world);

// What differs from the model, and what broke an invariant: one finding a
// line, its kind first ("kind: detail"). Empty when the world passed.
std::vector<std::string> Check(const World& world, const Expected& expected, const Played& played);

// The world run whole: modelled, played, checked.
std::vector<std::string> RunWorld(const World& world);
std::string KindOf(const std::string& finding);

// The smallest world found that still fails as fails() says.
World Shrink(const World& world, const std::function<bool(const World&)>& fails);

// ------------------------------------------------------------------ the plug-in, as each build has
// it Loaded (or attached) afresh, with the journal on or off; started and installed by the caller
// through the entries. Unload gives back every reference and returns the journal's bytes.
struct PluginEntries {
    int32_t(HOST_STDCALL* start)(void* context, char* text) = nullptr;
    int32_t(HOST_STDCALL* install)(int32_t flag) = nullptr;
};
PluginEntries LoadWorldPlugin(bool journal);
std::string UnloadWorldPlugin();
// A world as this build's stand-in can play it: natively, without the
// variations that only a Windows host's threads and stacks can play.
void AdaptToThisHost(World& world);
// The host's date text, by calling the host's operation directly.
std::string HostDateText(int32_t yyyymmdd);
// The settings file the stand-in keeps "Pytaj" in for this process.
std::string SettingsPath();
void WriteSettings(const std::string& path, const std::string& bytes);  // "" removes it

// ------------------------------------------------------------------ the runs
// The runner's command line: --seed S [--runs N] (one world, here, or many
// in children, a batch each), --world FILE_OR_FOLDER..., and the children's
// --batch S N and --play FILE. Each failure is printed with its seed, its
// findings and its smallest world; returns the exit code.
int RunnerMain(const std::vector<std::string>& arguments);
// A child that plays one world (or a batch), for the runner: its exit code,
// and whether the child ended as a crash ends a process: with anything but
// 0 (every world passed) or kWorldFails (a world failed, and said why).
inline constexpr int kWorldFails = 3;
struct ChildRun {
    int exit_code = 0;
    bool crashed = false;
    std::string output;
};
ChildRun RunChild(const std::vector<std::string>& arguments);
std::string TemporaryFile(const std::string& name);

}  // namespace worlds
