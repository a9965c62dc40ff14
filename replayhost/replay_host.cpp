#include "replayhost/replay_host.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/host_memory.h"
#include "host/host_operations.h"
#include "host/host_records.h"
#include "host/recording_format.h"
#include "replayhost/recording.h"
#include "replayhost/replay_report.h"
#include "standin/import_table.h"

namespace replay {
namespace {

// ------------------------------------------------------------------ how a replay stops
// The replay's own code stops by throwing: Stop with the outcome (R.report
// says why), LeftByHost where the recording says the host left the plug-in
// by a long jump. Both are caught where the replay's code began, before any
// frame of the plug-in's; from there a long jump leaves the plug-in's frames
// (which have no unwinding of their own) for the replay's next frame below
// them, which goes on by throwing. So no jump passes over an object of the
// replay's, and every one is destroyed on the way.
struct Stop {
    ReplayOutcome outcome;
};
struct LeftByHost {
    uint32_t to;  // the call into the plug-in that the host left to below
};

constexpr int kStubs = 16;
constexpr uint32_t kTokenSpace = 16u << 20;
constexpr uint32_t kTokenSpacing = 4;
constexpr uint32_t kReplayStackSize = 16u << 20;

// ------------------------------------------------------------------ the host's memory
// The replay gives the host's memory of one process one place for every
// address that any block of the process ever covered: each stretch of
// addresses that blocks covered, one after another or overlapping, is one
// arena. A block the host hands out again where an earlier one was (its heap
// reuses addresses) so lies where the earlier one lay, as in the host: a
// pointer the plug-in kept, or a word of host memory the host did not
// rewrite, finds the block that the address holds now.
struct Arena {
    uint32_t start;
    uint32_t size;
    uint8_t* memory;
};

// A block, handle or function of the host's that the recording names now.
struct Block {
    uint32_t address = 0;  // as recorded
    uint32_t size = 0;
    BlockKind kind = BlockKind::kData;
    uint8_t* memory = nullptr;       // the replay's
    std::vector<uint8_t> copy;       // the bytes the recording says it holds
    std::map<uint32_t, char> words;  // the class of each pointer word set
    bool watched = false;
};

struct Region {
    uint32_t address = 0;  // the key: the address its slot recorded
    bool through = false;  // and whether it lies behind the slot's first word
    uint32_t size = 0;
    std::vector<uint8_t> bytes;
    char word = 0;
};

// A call of the host into the plug-in made by the replay, and where a long
// jump out of the plug-in lands.
struct Incoming {
    const Head* head;
    std::jmp_buf jump;
};

enum CallEnd { kReturned = 0, kLeft = 1, kStopped = 2 };

// What the system answered one load of the plug-in, from its sessions.
struct SystemAnswers {
    std::map<uint32_t, bool> found;  // host entries, by ordinal
    std::vector<int32_t> buttons;
    size_t next_button = 0;
    bool module_recorded = false;
    bool module_known = false;
    std::string module;
    // Each start's journal, in order: "" where it was off or opened, else
    // the file it could not open or use, which the replayed start is given
    // and fails to open; the one the latest start was given.
    std::vector<std::wstring> journals;
    size_t next_journal = 0;
    std::wstring journal;
};

// ------------------------------------------------------------------ the state

struct Replay {
    bool active = false;
    // QUENDRIX_REPLAY_OWN_FAULT set: the replay faults in its own answer to
    // the plug-in's first call, for the test that such a fault is said as the
    // replay's own (ReplayInput.*).
    bool own_fault = false;
    std::string* output = nullptr;  // null: standard output
    // The process's memory.
    uint8_t* arena_memory = nullptr;
    std::vector<Arena> arenas;                      // ascending, in addresses and in memory alike
    std::unordered_map<uint32_t, uint32_t> tokens;  // recorded address -> index
    std::vector<uint32_t> token_addresses;
    uint8_t* token_space = nullptr;  // reserved pages that fault when read
    uint32_t stub_code[kStubs] = {};
    int stubs = 0;
    // The load.
    HMODULE plugin = nullptr;
    std::map<uint32_t, uint32_t> functions;  // the plug-in's, recorded -> replayed
    SystemAnswers answers;
    // The session.
    const Session* session = nullptr;
    size_t cursor = 0;
    std::vector<Block> blocks;
    Region regions[kRecordedRegions];
    std::vector<Incoming*> incoming;  // innermost last
    std::string report;
    uint32_t calls = 0;
    int depth = 0;
    bool plugin_running = false;  // who has control: a fault is the plug-in's or the replay's
    ReplayOutcome stopping = kReplayIdentical;
    uint32_t leaving_to = 0;
};

Replay R;

// The recording breaks a rule of its format at line (0: where none is to blame).
[[noreturn]] void Damaged(int line, const std::string& what) {
    R.report = "the recording is damaged";
    if (line != 0)
        R.report += " at line " + std::to_string(line);
    R.report += ": " + what + "\n";
    throw Stop{kReplayDamaged};
}

const Head* Next() {
    return R.cursor < R.session->heads.size() ? &R.session->heads[R.cursor] : nullptr;
}

uint32_t Seen(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

uint64_t End(uint32_t address, uint32_t size) {
    return uint64_t{address} + (size == 0 ? 1 : size);
}

// The replay's place for a recorded address within the process's blocks;
// null for one no block ever covered.
uint8_t* InArena(uint32_t address) {
    auto after = std::upper_bound(R.arenas.begin(), R.arenas.end(), address,
                                  [](uint32_t a, const Arena& arena) { return a < arena.start; });
    if (after == R.arenas.begin())
        return nullptr;
    const Arena& arena = *--after;
    return address - arena.start < arena.size ? arena.memory + (address - arena.start) : nullptr;
}

// Whether a seen address is one of the replay's for the host: in an arena, a
// handle or a function of the host's. recorded then holds its recorded address.
bool RecordedOf(uint32_t seen, uint32_t& recorded) {
    if (seen == 0) {
        recorded = 0;
        return true;
    }
    auto after =
        std::upper_bound(R.arenas.begin(), R.arenas.end(), seen,
                         [](uint32_t s, const Arena& arena) { return s < Seen(arena.memory); });
    if (after != R.arenas.begin()) {
        const Arena& arena = *std::prev(after);
        if (seen - Seen(arena.memory) < arena.size) {
            recorded = arena.start + (seen - Seen(arena.memory));
            return true;
        }
    }
    const uint32_t token = seen - Seen(R.token_space);
    if (R.token_space != nullptr && token < kTokenSpace && token % kTokenSpacing == 0 &&
        token / kTokenSpacing < R.token_addresses.size()) {
        recorded = R.token_addresses[token / kTokenSpacing];
        return true;
    }
    return false;
}

uint32_t AnswerHostFunction(int stub, const uint32_t* args);

template <typename Work>
uint32_t AtBoundary(Work work);

template <int N>
int32_t HOST_STDCALL HostFunctionStub(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4,
                                      uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8,
                                      uint32_t a9, uint32_t a10, uint32_t a11) {
    const uint32_t args[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11};
    return static_cast<int32_t>(AtBoundary([&] { return AnswerHostFunction(N, args); }));
}

template <size_t... N>
constexpr auto StubFunctions(std::index_sequence<N...>) {
    return std::array<TableEventHook, sizeof...(N)>{HostFunctionStub<static_cast<int>(N)>...};
}
constexpr auto kStubFunctions = StubFunctions(std::make_index_sequence<kStubs>());

uint8_t* TokenFor(int line, uint32_t address) {
    auto found = R.tokens.find(address);
    if (found == R.tokens.end()) {
        if ((R.token_addresses.size() + 1) * kTokenSpacing > kTokenSpace)
            Damaged(line, "more handles of the host's than the replay keeps");
        found = R.tokens.emplace(address, static_cast<uint32_t>(R.token_addresses.size())).first;
        R.token_addresses.push_back(address);
    }
    return R.token_space + found->second * kTokenSpacing;
}

uint8_t* StubFor(int line, uint32_t address) {
    for (int i = 0; i < R.stubs; ++i)
        if (R.stub_code[i] == address)
            return reinterpret_cast<uint8_t*>(kStubFunctions[i]);
    if (R.stubs == kStubs)
        Damaged(line, "more functions of the host's than the replay answers for");
    R.stub_code[R.stubs] = address;
    return reinterpret_cast<uint8_t*>(kStubFunctions[R.stubs++]);
}

Block* Find(uint32_t address) {
    if (address == 0)
        return nullptr;
    for (Block& block : R.blocks)
        if (block.size == 0 ? address == block.address : address - block.address < block.size)
            return &block;
    return nullptr;
}

void Forget(uint32_t address, uint32_t size) {
    const uint64_t end = End(address, size);
    std::erase_if(R.blocks, [&](const Block& b) {
        return b.address < end && address < End(b.address, b.size);
    });
}

uint8_t* ArenaFor(int line, uint32_t address, uint32_t size) {
    uint8_t* memory = InArena(address);
    if (memory == nullptr || (size > 0 && InArena(address + size - 1) != memory + size - 1))
        Damaged(line, "a block at " + Hex(address) + " that the replay did not place");
    return memory;
}

void Declare(const Detail& detail) {
    Forget(detail.address, detail.size);
    Block block;
    block.address = detail.address;
    block.size = detail.size;
    block.kind = detail.block_kind;
    if (block.kind == BlockKind::kToken) {
        block.memory = TokenFor(detail.line, block.address);
    } else if (block.kind == BlockKind::kCode) {
        block.memory = StubFor(detail.line, block.address);
    } else {
        // A block new to the reader holds zero bytes.
        block.memory = ArenaFor(detail.line, block.address, block.size);
        std::memset(block.memory, 0, block.size);
        block.copy.assign(block.size, 0);
        block.watched = Watched(block.kind);
    }
    R.blocks.push_back(std::move(block));
}

void Heap(const Detail& detail) {
    uint8_t* memory = ArenaFor(detail.line, detail.address, detail.size);
    uint32_t kept = 0;
    if (const Block* old = Find(detail.old); old != nullptr && detail.old != 0 &&
                                             old->address == detail.old &&
                                             old->kind == BlockKind::kHeap) {
        // A block moved here with its bytes (the two may overlap).
        kept = std::min(old->size, detail.size);
        std::memmove(memory, old->memory, kept);
        Forget(old->address, old->size);
    }
    std::memset(memory + kept, 0, detail.size - kept);
    Forget(detail.address, detail.size);
    Block block;
    block.address = detail.address;
    block.size = detail.size;
    block.kind = BlockKind::kHeap;
    block.memory = memory;
    R.blocks.push_back(std::move(block));
}

// The recording has lost a boundary: it knows nothing of the host's memory
// any more, and declares anew what the plug-in may read.
void ForgetEverything() {
    R.blocks.clear();
    for (Region& region : R.regions)
        region = {};
}

// ------------------------------------------------------------------ values

// A recorded value as the replay has it; a function of the plug-in's that it
// has not seen yet is 0.
uint32_t Translate(char kind, uint32_t value, int line) {
    if (kind == kSlotPluginFunction) {
        const auto found = R.functions.find(value);
        return found == R.functions.end() ? 0 : found->second;
    }
    if (kind != kSlotHostMemory || value == 0)
        return value;
    if (const Block* block = Find(value))
        return Seen(block->memory) + (value - block->address);
    if (const uint8_t* memory = InArena(value))
        return Seen(memory);
    if (R.tokens.count(value) != 0)
        return Seen(TokenFor(line, value));
    for (int i = 0; i < R.stubs; ++i)
        if (R.stub_code[i] == value)
            return Seen(reinterpret_cast<const void*>(kStubFunctions[i]));
    Damaged(line, "it names host memory at " + Hex(value) + " that it never described");
}

// Whether a seen value is what a recorded slot says; a function of the
// plug-in's seen for the first time is learned. Host memory is compared by
// the recorded address it stands for: the plug-in may hand back an address it
// kept from a block the host has since handed out anew there.
bool Matches(const Slot& slot, uint32_t seen) {
    uint32_t recorded = 0;
    switch (slot.kind) {
        case kSlotValue16:
            return (seen & 0xFFFFu) == (slot.value & 0xFFFFu);
        case kSlotPluginMemory:
            return seen != 0 && !RecordedOf(seen, recorded);
        case kSlotPluginFunction: {
            const auto found = R.functions.find(slot.value);
            if (found == R.functions.end()) {
                R.functions[slot.value] = seen;
                return seen != 0;
            }
            return found->second == seen;
        }
        case kSlotHostMemory:
            return RecordedOf(seen, recorded) && recorded == slot.value;
        default:
            return seen == slot.value;
    }
}

// What a recorded slot means, and what a seen value is, in words.
std::string Meaning(const Slot& slot) {
    std::string text = std::string(1, slot.kind) + Hex(slot.value);
    if (slot.kind == kSlotHostMemory && slot.value != 0) {
        if (const Block* block = Find(slot.value))
            text += " (host memory " + Hex(block->address) + " + " +
                    std::to_string(slot.value - block->address) + ")";
    } else if (slot.kind == kSlotPluginMemory) {
        text += " (the plug-in's own memory)";
    } else if (slot.kind == kSlotPluginFunction) {
        text += " (a function of the plug-in's)";
    }
    return text;
}

std::string SeenMeaning(uint32_t seen) {
    std::string text = "0x" + Hex(seen);
    uint32_t recorded = 0;
    if (seen != 0 && RecordedOf(seen, recorded))
        text += " (host memory " + Hex(recorded) + ")";
    return text;
}

// ------------------------------------------------------------------ changes

// Whether the bytes of a change lie within size bytes, without wrapping.
bool Within(const Change& change, uint32_t size) {
    return change.offset <= size && change.bytes.size() <= size - change.offset;
}

void Apply(Block& block, const Detail& detail, bool memory) {
    for (const Change& change : detail.changes) {
        if (!Within(change, block.size))
            Damaged(detail.line, "bytes beyond the end of block " + Hex(block.address));
        std::memcpy(block.copy.data() + change.offset, change.bytes.data(), change.bytes.size());
        if (change.word != 0)
            block.words[change.offset] = change.word;
        if (!memory)
            continue;
        if (change.word != 0) {
            uint32_t value;
            std::memcpy(&value, change.bytes.data(), 4);
            value = Translate(change.word, value, detail.line);
            std::memcpy(block.memory + change.offset, &value, 4);
        } else {
            std::memcpy(block.memory + change.offset, change.bytes.data(), change.bytes.size());
        }
    }
}

// The bytes a block should hold now, its words as the replay has them: a
// word that stands for the recorded one (a function of the plug-in's seen
// there for the first time is learned) as it came.
std::vector<uint8_t> Expected(const Block& block, const Head& head) {
    std::vector<uint8_t> expected = block.copy;
    for (uint32_t offset = 0; offset + 4 <= block.size; ++offset) {
        if (!PointerWordAt(block.kind, offset))
            continue;
        const auto word = block.words.find(offset);
        Slot slot;
        slot.kind = word == block.words.end() ? kSlotHostMemory : word->second;
        std::memcpy(&slot.value, block.copy.data() + offset, 4);
        if (slot.kind == kSlotValue)
            continue;
        uint32_t seen;
        std::memcpy(&seen, block.memory + offset, 4);
        const uint32_t value =
            Matches(slot, seen) ? seen : Translate(slot.kind, slot.value, head.line);
        std::memcpy(expected.data() + offset, &value, 4);
    }
    return expected;
}

Region& RegionAt(uint32_t address, bool through, uint32_t size, Region& scratch) {
    if (size > kLargestRecordedRegion) {
        scratch = {address, through, size, std::vector<uint8_t>(size, 0), 0};
        return scratch;
    }
    Region& region = R.regions[address % kRecordedRegions];
    if (region.address != address || region.through != through || region.size != size)
        region = {address, through, size, std::vector<uint8_t>(size, 0), 0};
    return region;
}

// A detail's changes made to the bytes a region holds as recorded.
void ApplyChanges(Region& region, const Detail& detail) {
    for (const Change& change : detail.changes) {
        if (!Within(change, region.size))
            Damaged(detail.line, "bytes beyond the end of a region");
        std::memcpy(region.bytes.data() + change.offset, change.bytes.data(), change.bytes.size());
        region.word = change.word;
    }
}

bool Readable(uint32_t address, uint32_t size) {
    for (uint32_t at = address; at - address < size;) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), &info, sizeof info) ==
                0 ||
            info.State != MEM_COMMIT || (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0)
            return false;
        at = Seen(info.BaseAddress) + static_cast<uint32_t>(info.RegionSize);
        if (at == 0)
            break;
    }
    return true;
}

// The length of a text the plug-in holds at address, its terminator
// included, read no further than limit bytes (0 where nothing can be read).
uint32_t TextSize(uint32_t address, uint32_t limit) {
    uint32_t length = 0;
    while (length < limit && Readable(address + length, 1)) {
        if (*reinterpret_cast<const char*>(static_cast<uintptr_t>(address + length)) == 0)
            return length + 1;
        ++length;
    }
    return length;
}

// ------------------------------------------------------------------ the names

struct Operation {
    uint32_t ordinal;
    const char* name;
    const char* parameters;
};

#define REPLAY_OPERATION(name, ordinal, convention, bytes, result, params) \
    {ordinal, #name, #params},
constexpr Operation kOperations[] = {HOST_OPERATIONS(REPLAY_OPERATION)};
#undef REPLAY_OPERATION

// The index of a host operation in the list, -1 for an ordinal it lacks.
int OperationIndex(uint32_t ordinal) {
    for (size_t i = 0; i < std::size(kOperations); ++i)
        if (kOperations[i].ordinal == ordinal)
            return static_cast<int>(i);
    return -1;
}

std::string CallName(const Head& head) {
    std::string text = "call " + Sequence(head.sequence) + " " + head.name;
    if (head.kind == HeadKind::kHost || head.kind == HeadKind::kEntry)
        text += " #" + std::to_string(head.ordinal);
    return text;
}

std::string ArgumentName(const Head& head, int argument) {
    if (argument < 0)
        return "the result";
    std::string text = "argument " + std::to_string(argument);
    const int index = head.kind == HeadKind::kHost ? OperationIndex(head.ordinal) : -1;
    if (index >= 0)
        text += ParameterName(kOperations[index].parameters, argument);
    return text;
}

std::string AsTraced(const Head& head) {
    return head.readable.empty() ? "" : "  as the trace shows it:\n    " + head.readable + "\n";
}

std::string Recorded(const Head& head) {
    std::string text = head.name + "(";
    for (size_t i = 0; i < head.slots.size(); ++i)
        text += (i > 0 ? " " : "") + std::string(1, head.slots[i].kind) + Hex(head.slots[i].value);
    return text + ")";
}

[[noreturn]] void DivergeAt(const Head& head, const std::string& what) {
    R.report = "divergence at " + CallName(head) + "\n" + what + AsTraced(head);
    throw Stop{kReplayDiverged};
}

// The recording ends where the replay needs more of it: inside a call of a
// session that breaks off, the replay ends there; otherwise the plug-in does
// more than the recorded one did.
[[noreturn]] void RecordingEnds(const std::string& what) {
    if (R.session->cut_line != 0)
        throw Stop{kReplayDamaged};  // the session's end says where it broke off
    R.report = "divergence after the last recorded call: " + what + ", the recording ends\n";
    throw Stop{kReplayDiverged};
}

// ------------------------------------------------------------------ the boundaries

// The most bytes a region may have where the call puts it: what the
// argument's declared type lets the plug-in's memory there hold (writing:
// what the host may write into it). 0 where the call has no such region.
uint32_t RegionBound(const Head& call, const Detail& detail, const uint32_t* seen, size_t count,
                     bool writing) {
    if (detail.place < 0)  // a row callback's text
        return call.kind == HeadKind::kCallback && !writing ? kTextReadLimit : 0;
    const int index = call.kind == HeadKind::kHost ? OperationIndex(call.ordinal) : -1;
    if (index < 0 || detail.place >= kOperationReach[index].count)
        return 0;
    const CallReach& reach = kOperationReach[index];
    const SlotReach& slot = reach.args[detail.place];
    if (detail.through_first_word)
        return slot.reach == Reach::kProfileValues ? 4 : 0;
    const uint8_t flow = writing ? kOut : kIn;
    switch (slot.reach) {
        case Reach::kText:
            return writing ? 0 : kTextReadLimit;
        case Reach::kBuffer:
            return (slot.flow & flow) != 0 ? slot.size : 0;
        case Reach::kTextBuffer: {
            if (!writing)
                return 0;
            if (slot.size > 0)
                return slot.size;
            const int related = slot.related;
            if (related < 0 || static_cast<size_t>(related) >= count)
                return 0;
            if (reach.args[related].reach == Reach::kValue16)
                return (seen[related] & 0xFFFFu) + 1;
            // As long as the text the plug-in hands over in that argument.
            return TextSize(seen[related], kTextReadLimit);
        }
        case Reach::kRecordBuffer: {
            const int related = slot.related;
            uint32_t recorded = 0;
            const Block* table = related >= 0 && static_cast<size_t>(related) < count &&
                                         RecordedOf(seen[related], recorded)
                                     ? Find(recorded)
                                     : nullptr;
            if (table == nullptr || table->kind != BlockKind::kTable)
                return 0;
            int16_t size;
            std::memcpy(&size, table->memory + offsetof(HostTable, record_size), 2);
            return size > 0 ? static_cast<uint32_t>(size) : 0;
        }
        case Reach::kTableWord:
        case Reach::kTokenWord:
        case Reach::kLinesWord:
        case Reach::kProfileValues:
            return 4;
        case Reach::kDefinition:
            return writing ? 0 : 4 + 65536;
        default:
            return 0;
    }
}

// The address a region lies at: an argument's, the result's, or the one the
// first word at an argument points to.
uint32_t PlaceOf(const Detail& detail, const uint32_t* seen, size_t count, uint32_t result) {
    if (detail.place < 0)
        return result;
    if (static_cast<size_t>(detail.place) >= count)
        return 0;
    const uint32_t at = seen[detail.place];
    if (!detail.through_first_word)
        return at;
    return Readable(at, 4) ? *reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(at)) : 0;
}

// The region's key: the address its slot recorded, and (from version 2)
// whether it lies behind the slot's first word; version 1 kept both under
// the slot's address alone.
Region& RecordedRegion(const Detail& detail, const Head& call, const Head& at, Region& scratch) {
    const std::vector<Slot>& slots = detail.place < 0 ? at.slots : call.slots;
    const size_t index = detail.place < 0 ? 0 : static_cast<size_t>(detail.place);
    const uint32_t address = index < slots.size() ? slots[index].value : 0;
    const bool through = R.session->version >= 2 && detail.through_first_word;
    return RegionAt(address, through, detail.size, scratch);
}

void CheckBound(const Head& call, const Detail& detail, const uint32_t* seen, size_t count,
                bool writing) {
    const uint32_t bound = RegionBound(call, detail, seen, count, writing);
    if (detail.size > bound)
        Damaged(detail.line, std::string(writing ? kOutLineKind : kInLineKind) + " of " +
                                 std::to_string(detail.size) + " bytes at " +
                                 ArgumentName(call, detail.place) + " of " + CallName(call) +
                                 ", where the call has room for " + std::to_string(bound));
}

void CompareRegion(const Head& call, const Head& at, const Detail& detail, const uint32_t* seen,
                   size_t count, uint32_t result) {
    CheckBound(call, detail, seen, count, false);
    Region scratch;
    Region& region = RecordedRegion(detail, call, at, scratch);
    ApplyChanges(region, detail);
    const uint32_t place = PlaceOf(detail, seen, count, result);
    const std::string where = ArgumentName(call, detail.place);
    if (place == 0 || !Readable(place, detail.size))
        DivergeAt(call, "  " + where + ": the recording has " + std::to_string(detail.size) +
                            " bytes handed over there, but nothing can be read at " +
                            SeenMeaning(place) + "\n");
    const auto* bytes = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(place));
    if (region.word != 0) {
        Slot slot;
        slot.kind = region.word;
        std::memcpy(&slot.value, region.bytes.data(), 4);
        uint32_t value;
        std::memcpy(&value, bytes, 4);
        if (slot.kind != kSlotPluginMemory && !Matches(slot, value))
            DivergeAt(call, "  " + where + " points to a word: recorded " + Meaning(slot) +
                                ", came " + SeenMeaning(value) + "\n");
        return;
    }
    if (std::memcmp(bytes, region.bytes.data(), detail.size) != 0)
        DivergeAt(call, "  " + where + ", the bytes handed over there:\n" +
                            SideBySide(region.bytes.data(), bytes, detail.size));
}

void WriteRegion(const Head& call, const Head& at, const Detail& detail, const uint32_t* seen,
                 size_t count) {
    CheckBound(call, detail, seen, count, true);
    Region scratch;
    Region& region = RecordedRegion(detail, call, at, scratch);
    const uint32_t place = PlaceOf(detail, seen, count, 0);
    if (place == 0 || !Readable(place, detail.size))
        DivergeAt(call,
                  "  " + ArgumentName(call, detail.place) +
                      ": the host wrote there after the call, but nothing can be written at " +
                      SeenMeaning(place) + "\n");
    auto* bytes = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(place));
    ApplyChanges(region, detail);
    if (region.word != 0 && region.word != kSlotPluginMemory) {
        uint32_t value;
        std::memcpy(&value, region.bytes.data(), 4);
        value = Translate(region.word, value, detail.line);
        std::memcpy(bytes, &value, 4);
    } else if (region.word == 0) {
        std::memcpy(bytes, region.bytes.data(), detail.size);
    }
}

// A region of a call that never reached the host (its entry is bound to a
// fallback): its recorded bytes are kept, as the recorder kept them, and
// nothing is compared or written.
void KeepRegion(const Head& call, const Head& at, const Detail& detail) {
    if (detail.size > kLargestRecordedRegion)
        return;
    Region scratch;
    ApplyChanges(RecordedRegion(detail, call, at, scratch), detail);
}

Block& BlockAt(const Detail& detail, bool watched) {
    const uint32_t address = detail.address;
    Block* block = Find(address);
    if (block == nullptr || block->address != address)
        Damaged(detail.line, "it names a block at " + Hex(address) + " that it never described");
    if (watched && !block->watched)
        Damaged(detail.line, "it changes bytes of " + Hex(address) +
                                 ", which is no block of bytes the replay holds");
    return *block;
}

// What the host made or put into its memory, at either side's boundary;
// false for any other detail.
bool ApplyHostMemory(const Detail& detail) {
    switch (detail.kind) {
        case DetailKind::kNew:
            Declare(detail);
            return true;
        case DetailKind::kHeap:
            Heap(detail);
            return true;
        case DetailKind::kSet:
            Apply(BlockAt(detail, true), detail, true);
            return true;
        default:
            return false;
    }
}

// The host's side of a boundary: its changes applied, what it wrote through
// the call's arguments (seen) written there.
void ApplyHostSide(const Head& call, const Head& at, const uint32_t* seen, size_t count) {
    for (const Detail& detail : at.details) {
        if (ApplyHostMemory(detail))
            continue;
        switch (detail.kind) {
            case DetailKind::kDrop:
                Forget(detail.address, BlockAt(detail, false).size);
                break;
            case DetailKind::kOut:
                WriteRegion(call, at, detail, seen, count);
                break;
            default:
                Damaged(detail.line, "the plug-in's bytes where the host's are due");
        }
    }
}

// The details of a boundary after the plug-in had control: what the host
// made of its memory applied, the plug-in's writes taken into the copies;
// the regions the call hands over (@in) and the blocks dropped (which go
// once the comparison is done) collected. At a boundary the replay does not
// see (a call of an entry bound to a fallback), every region is only kept.
void TakePluginSide(const Head& call, const Head& at, bool unseen,
                    std::vector<const Detail*>& regions, std::vector<const Detail*>& drops) {
    for (const Detail& detail : at.details) {
        if (ApplyHostMemory(detail))
            continue;
        switch (detail.kind) {
            case DetailKind::kWrote:
                Apply(BlockAt(detail, true), detail, false);
                break;
            case DetailKind::kDrop:
                drops.push_back(&detail);
                break;
            case DetailKind::kIn:
            case DetailKind::kOut:
                if (unseen) {
                    KeepRegion(call, at, detail);
                    break;
                }
                if (detail.kind == DetailKind::kIn) {
                    regions.push_back(&detail);
                    break;
                }
                [[fallthrough]];
            default:
                if (!unseen)
                    Damaged(detail.line, "the host's bytes where the plug-in's are due");
        }
    }
}

void ForgetDropped(const std::vector<const Detail*>& drops) {
    for (const Detail* drop : drops)
        Forget(drop->address, BlockAt(*drop, false).size);
}

// The plug-in's side of a boundary: the slots seen against the recorded ones,
// the bytes handed over, then every watched block against the recording.
void CheckPluginSide(const Head& call, const Head& at, const uint32_t* seen, size_t count,
                     uint32_t result) {
    std::vector<const Detail*> regions, drops;
    TakePluginSide(call, at, false, regions, drops);
    const bool returning = at.kind == HeadKind::kReturn;
    const std::vector<uint32_t> values =
        returning ? std::vector<uint32_t>{result} : std::vector<uint32_t>(seen, seen + count);
    for (size_t i = 0; i < at.slots.size() && i < values.size(); ++i)
        if (!Matches(at.slots[i], values[i]))
            DivergeAt(call, "  " + ArgumentName(call, returning ? -1 : static_cast<int>(i)) +
                                ": recorded " + Meaning(at.slots[i]) + ", came " +
                                SeenMeaning(values[i]) + "\n");
    for (const Detail* detail : regions)
        CompareRegion(call, at, *detail, seen, count, result);
    for (const Block& block : R.blocks) {
        if (!block.watched)
            continue;
        const std::vector<uint8_t> expected = Expected(block, at);
        if (std::memcmp(expected.data(), block.memory, block.size) != 0)
            DivergeAt(call, std::string(returning ? "  at its return" : "  as it was called") +
                                ", host memory " + Hex(block.address) + " (" +
                                std::to_string(block.size) +
                                " bytes) holds other bytes than recorded:\n" +
                                SideBySide(expected.data(), block.memory, block.size));
    }
    ForgetDropped(drops);
}

// A boundary the replay does not see: what it says of host memory is taken as
// said, the plug-in's writes are compared at the next boundary, and its
// regions only kept.
void TakeUnseen(const Head& call, const Head& at) {
    std::vector<const Detail*> regions, drops;
    TakePluginSide(call, at, true, regions, drops);
    ForgetDropped(drops);
}

// Whether the recorded host lacked the entry of ordinal, so that the plug-in
// bound its fallback.
bool BoundToFallback(uint32_t ordinal) {
    const auto found = R.answers.found.find(ordinal);
    return found != R.answers.found.end() && !found->second;
}

// Calls of host entries that the recorded host lacked: the plug-in's
// fallback answered them, and the host never saw them, nor does the replay.
void SkipUnseen() {
    for (const Head* call = Next(); call != nullptr && call->kind == HeadKind::kHost;
         call = Next()) {
        if (!BoundToFallback(call->ordinal))
            return;
        ++R.cursor;
        TakeUnseen(*call, *call);
        const Head* back = Next();
        if (back == nullptr || back->kind != HeadKind::kReturn || back->sequence != call->sequence)
            return;  // left, or lost: the caller takes it from here
        ++R.cursor;
        TakeUnseen(*call, *back);
    }
}

// ------------------------------------------------------------------ calls

uint32_t CallStdcall(void* function, const uint32_t* a, size_t n) {
    using U = uint32_t;
    switch (n) {
        case 0:
            return reinterpret_cast<U(HOST_STDCALL*)()>(function)();
        case 1:
            return reinterpret_cast<U(HOST_STDCALL*)(U)>(function)(a[0]);
        case 2:
            return reinterpret_cast<U(HOST_STDCALL*)(U, U)>(function)(a[0], a[1]);
        case 11:
            return reinterpret_cast<U(HOST_STDCALL*)(U, U, U, U, U, U, U, U, U, U, U)>(function)(
                a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10]);
        default:
            return 0xFFFFFFFF;
    }
}

// Calls into the plug-in. Left: the host left it by a long jump, or the
// replay stopped (R.stopping) inside it; either way its frames are gone.
CallEnd CallPlugin(const Head& head, void* target, const uint32_t* args, size_t count,
                   uint32_t& result) {
    Incoming frame{&head, {}};
    R.incoming.push_back(&frame);
    const bool running = R.plugin_running;
    const int jumped = setjmp(frame.jump);
    if (jumped != 0) {
        R.incoming.pop_back();
        R.plugin_running = running;
        return static_cast<CallEnd>(jumped);
    }
    R.plugin_running = true;
    result = CallStdcall(target, args, count);
    R.plugin_running = running;
    R.incoming.pop_back();
    return kReturned;
}

// Leaves the plug-in's frames for the innermost call into it, from a frame of
// the replay's that holds no object.
[[noreturn]] void LeavePlugin(CallEnd end) {
    if (R.incoming.empty()) {
        std::printf("the replay itself failed: it left the plug-in with no call into it open\n");
        std::fflush(stdout);
        ExitProcess(kReplayFault);
    }
    std::longjmp(R.incoming.back()->jump, end);
}

// Runs work, the replay's answer to the plug-in; a stop or a long jump of
// the host's thrown inside leaves the plug-in once work's objects are gone.
template <typename Work>
uint32_t AtBoundary(Work work) {
    const bool running = R.plugin_running;
    R.plugin_running = false;
    uint32_t result = 0;
    CallEnd end = kReturned;
    try {
        result = work();
    } catch (const LeftByHost& left) {
        R.leaving_to = left.to;
        end = kLeft;
    } catch (const Stop& stop) {
        R.stopping = stop.outcome;
        end = kStopped;
    } catch (const std::bad_alloc&) {
        R.report = "the recording needs more memory than the replay has\n";
        R.stopping = kReplayDamaged;
        end = kStopped;
    }
    R.plugin_running = running;
    if (end != kReturned)
        LeavePlugin(end);
    return result;
}

// One call more open in the replay, for the scope: no more than the format
// allows.
struct Deeper {
    explicit Deeper(const Head& head) {
        if (++R.depth > kRecordedNesting) {
            --R.depth;
            Damaged(head.line, "calls nested deeper than " + std::to_string(kRecordedNesting));
        }
    }
    ~Deeper() { --R.depth; }
    Deeper(const Deeper&) = delete;
    Deeper& operator=(const Deeper&) = delete;
};

void PlayIncoming(const Head& head) {
    const Deeper deeper(head);
    ApplyHostSide(head, head, nullptr, 0);
    uint32_t args[kMostSlots] = {};
    for (size_t i = 0; i < head.slots.size() && i < kMostSlots; ++i)
        args[i] = Translate(head.slots[i].kind, head.slots[i].value, head.line);
    void* target = nullptr;
    if (head.kind == HeadKind::kEntry) {
        target = reinterpret_cast<void*>(
            GetProcAddress(R.plugin, MAKEINTRESOURCEA(static_cast<WORD>(head.ordinal))));
    } else if (const auto found = R.functions.find(head.target.value); found != R.functions.end()) {
        target = reinterpret_cast<void*>(static_cast<uintptr_t>(found->second));
    }
    if (target == nullptr)
        DivergeAt(head, "  the host calls " + head.name + " (" + Meaning(head.target) +
                            "), which the replayed plug-in never handed it\n");
    const size_t count = head.slots.size();
    if (count != 0 && count != 1 && count != 2 && count != 11)
        Damaged(head.line, "a call of the plug-in with " + std::to_string(count) + " arguments");
    ++R.calls;
    uint32_t result = 0;
    switch (CallPlugin(head, target, args, count, result)) {
        case kReturned:
            break;
        case kLeft:
            // The host left the plug-in by a long jump: to here, or further.
            if (R.leaving_to != head.sequence)
                throw LeftByHost{R.leaving_to};
            return;
        case kStopped:
            throw Stop{R.stopping};
    }
    SkipUnseen();
    const Head* back = Next();
    if (back != nullptr && back->kind == HeadKind::kLost) {
        // Its return's lines were lost: the host took the result all the same.
        return;
    }
    if (back == nullptr || back->kind != HeadKind::kReturn || back->sequence != head.sequence) {
        if (back == nullptr)
            RecordingEnds("the plug-in returned from " + CallName(head));
        DivergeAt(head, "  the plug-in returned " + SeenMeaning(result) +
                            ", but the recording has " + CallName(*back) + " " + Recorded(*back) +
                            " first\n");
    }
    ++R.cursor;
    CheckPluginSide(head, *back, args, count, result);
}

// The calls the host left by a long jump, from the @left lines at the cursor
// on: the outermost call into the plug-in among them, which the replay leaves
// the plug-in to.
[[noreturn]] void LeaveAsRecorded(const Head& at) {
    std::vector<uint32_t> left;
    while (Next() != nullptr && Next()->kind == HeadKind::kLeft)
        left.push_back(Next()->sequence), ++R.cursor;
    for (const Incoming* frame : R.incoming)
        if (std::find(left.begin(), left.end(), frame->head->sequence) != left.end())
            throw LeftByHost{frame->head->sequence};
    Damaged(at.line, "a long jump out of no call of the host's into the plug-in");
}

// The recorded answer to a call of the plug-in into the host: the head
// matched, its nested calls into the plug-in made, its effects applied.
uint32_t Answer(const Head* head, const uint32_t* args, const std::string& called) {
    if (head == nullptr)
        RecordingEnds("the plug-in calls " + called);
    if (head->kind == HeadKind::kLost) {
        // The recorded call's lines were lost: the host left the plug-in
        // while they were written, before the call reached it.
        ++R.cursor;
        ForgetEverything();
        LeaveAsRecorded(*head);
    }
    const Deeper deeper(*head);
    ++R.cursor;
    ++R.calls;
    const size_t count = std::min<size_t>(head->slots.size(), kMostSlots);
    CheckPluginSide(*head, *head, args, count, 0);
    for (;;) {
        const Head* next = Next();
        if (next == nullptr)
            RecordingEnds("the host has not returned from " + CallName(*head));
        if (next->kind == HeadKind::kLeft) {
            LeaveAsRecorded(*next);
        }
        ++R.cursor;
        if (next->kind == HeadKind::kReturn && next->sequence == head->sequence) {
            ApplyHostSide(*head, *next, args, count);
            if (next->slots.empty())
                return 0;
            const Slot& result = next->slots[0];
            // The host's result may be an argument of the plug-in's own memory.
            for (size_t i = 0; result.kind == kSlotPluginMemory && i < count; ++i)
                if (head->slots[i].kind == kSlotPluginMemory &&
                    head->slots[i].value == result.value)
                    return args[i];
            return Translate(result.kind, result.value, next->line);
        }
        if (next->kind == HeadKind::kEntry || next->kind == HeadKind::kCallback) {
            PlayIncoming(*next);
            continue;
        }
        if (next->kind == HeadKind::kLost) {
            ForgetEverything();
            continue;
        }
        Damaged(next->line, CallName(*next) + " inside " + CallName(*head));
    }
}

std::string Called(const char* name, const uint32_t* args, size_t count) {
    std::string text = name;
    text += "(";
    for (size_t i = 0; i < count; ++i)
        text += (i > 0 ? ", 0x" : "0x") + Hex(args[i]);
    return text + ")";
}

[[noreturn]] void DivergeOnCall(const Head& expected, const std::string& called) {
    DivergeAt(expected, "  recorded " + Recorded(expected) + "\n  came     " + called + "\n");
}

uint32_t AnswerOperation(uint32_t index, const uint32_t* args) {
    if (R.own_fault)
        *reinterpret_cast<volatile uint32_t*>(R.token_space) = index;  // a page that faults
    SkipUnseen();
    const Operation& operation = kOperations[index];
    const Head* head = Next();
    const size_t shown = head != nullptr ? std::min<size_t>(head->slots.size(), kMostSlots) : 0;
    const std::string called = Called(operation.name, args, shown);
    if (head != nullptr && head->kind != HeadKind::kLost &&
        (head->kind != HeadKind::kHost || head->ordinal != operation.ordinal))
        DivergeOnCall(*head, called);
    return Answer(head, args, called);
}

uint32_t AnswerHostFunction(int stub, const uint32_t* args) {
    SkipUnseen();
    const Head* head = Next();
    const std::string called = Called("the host's function", args, 11);
    if (head != nullptr && head->kind != HeadKind::kLost &&
        (head->kind != HeadKind::kHostFunction || head->target.value != R.stub_code[stub]))
        DivergeOnCall(*head, called + " (" + Hex(R.stub_code[stub]) + ")");
    return Answer(head, args, called);
}

void PlayTopLevel() {
    while (const Head* head = Next()) {
        ++R.cursor;
        switch (head->kind) {
            case HeadKind::kEntry:
            case HeadKind::kCallback:
                PlayIncoming(*head);
                break;
            case HeadKind::kLeft:
                break;  // left before the replay noticed; nothing to leave
            case HeadKind::kLost:
                ForgetEverything();
                break;
            default: {
                if (head->kind == HeadKind::kHost && BoundToFallback(head->ordinal)) {
                    --R.cursor;  // a fallback's call, after a long jump of the host's
                    SkipUnseen();
                    break;
                }
                Damaged(head->line, CallName(*head) + " outside any call of the host's");
            }
        }
    }
}

// ------------------------------------------------------------------ the system's answers
// The replayed plug-in reaches the system through its import table, where
// the replay answers in the system's place what the recording says it
// answered: which host entries the host's library has, the button of the
// missing-entry dialog, the plug-in's path that dialog names; and its
// settings file, with the diagnostics off, so that what a shop's settings
// name is never written here.

FARPROC WINAPI ReplayGetProcAddress(HMODULE module, LPCSTR name) {
    static const HMODULE self = [] {
        HMODULE own = nullptr;
        GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&R), &own);
        return own;
    }();
    if (module == self && IS_INTRESOURCE(name) &&
        BoundToFallback(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name))))
        return nullptr;
    return GetProcAddress(module, name);
}

int WINAPI ReplayMessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
    return static_cast<int>(AtBoundary([] {
        SystemAnswers& answers = R.answers;
        if (answers.next_button >= answers.buttons.size()) {
            const Head* next = Next();
            R.report = "divergence: the plug-in shows the missing-entry dialog";
            if (next != nullptr)
                R.report += " before " + CallName(*next);
            R.report += ", which the recording does not hold\n";
            throw Stop{kReplayDiverged};
        }
        return static_cast<uint32_t>(answers.buttons[answers.next_button++]);
    }));
}

DWORD WINAPI ReplayGetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (module != R.plugin || !R.answers.module_recorded)
        return GetModuleFileNameA(module, buffer, size);
    if (!R.answers.module_known || size == 0)
        return 0;
    const std::string& path = R.answers.module;
    const DWORD length = static_cast<DWORD>(std::min<size_t>(path.size(), size - 1));
    std::memcpy(buffer, path.data(), length);
    buffer[length] = 0;
    return path.size() >= size ? size : length;
}

bool IsJournalKey(LPCWSTR section, LPCWSTR key, const wchar_t* name) {
    return section != nullptr && key != nullptr && _wcsicmp(section, L"Journal") == 0 &&
           _wcsicmp(key, name) == 0;
}

// Every switch off, but a journal that a start could not open: on, with
// its file, which then cannot be opened either (ReplayCreateFileW). Each
// start asks for the journal's switch once.
UINT WINAPI ReplayGetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT, LPCWSTR) {
    if (!IsJournalKey(section, key, L"Enabled"))
        return 0;
    SystemAnswers& answers = R.answers;
    answers.journal = answers.next_journal < answers.journals.size()
                          ? answers.journals[answers.next_journal++]
                          : std::wstring();
    return answers.journal.empty() ? 0 : 1;
}

DWORD WINAPI ReplayGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback,
                                            LPWSTR buffer, DWORD size, LPCWSTR) {
    if (buffer == nullptr || size == 0)
        return 0;
    if (IsJournalKey(section, key, L"File") && !R.answers.journal.empty())
        fallback = R.answers.journal.c_str();
    const size_t length = fallback != nullptr ? std::min<size_t>(wcslen(fallback), size - 1) : 0;
    std::memcpy(buffer, fallback, length * sizeof(wchar_t));
    buffer[length] = 0;
    return static_cast<DWORD>(length);
}

// The replayed plug-in opens no file here: the shop's were the shop's.
HANDLE WINAPI ReplayCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

void AnswerForTheSystem(HMODULE plugin) {
    import_table::Replace(plugin, "kernel32.dll", "GetProcAddress",
                          reinterpret_cast<void*>(&ReplayGetProcAddress));
    import_table::Replace(plugin, "kernel32.dll", "GetModuleFileNameA",
                          reinterpret_cast<void*>(&ReplayGetModuleFileNameA));
    import_table::Replace(plugin, "kernel32.dll", "GetPrivateProfileIntW",
                          reinterpret_cast<void*>(&ReplayGetPrivateProfileIntW));
    import_table::Replace(plugin, "kernel32.dll", "GetPrivateProfileStringW",
                          reinterpret_cast<void*>(&ReplayGetPrivateProfileStringW));
    import_table::Replace(plugin, "kernel32.dll", "CreateFileW",
                          reinterpret_cast<void*>(&ReplayCreateFileW));
    import_table::Replace(plugin, "user32.dll", "MessageBoxA",
                          reinterpret_cast<void*>(&ReplayMessageBoxA));
}

// What the system answered the load that sessions [first, last) belong to.
SystemAnswers AnswersOf(const std::vector<Session>& sessions, size_t first, size_t last) {
    SystemAnswers answers;
    for (size_t s = first; s < last; ++s)
        for (const SystemAnswer& answer : sessions[s].answers)
            switch (answer.kind) {
                case AnswerKind::kBind:
                    answers.found.emplace(answer.ordinal, answer.found);
                    break;
                case AnswerKind::kButton:
                    answers.buttons.push_back(answer.value);
                    break;
                case AnswerKind::kModule:
                    if (!answers.module_recorded) {
                        answers.module_recorded = true;
                        answers.module_known = answer.found;
                        answers.module = answer.bytes;
                    }
                    break;
                case AnswerKind::kJournal:
                    answers.journals.emplace_back();
                    break;
                case AnswerKind::kUnopened:
                    if (!answers.journals.empty())
                        answers.journals.back() = answer.path;
                    break;
            }
    return answers;
}

// ------------------------------------------------------------------ faults

// Where a fault of the plug-in's goes on: out of the plug-in, on its stack.
[[noreturn]] void LeaveAfterFault() {
    LeavePlugin(kStopped);
}

// A fault while the plug-in runs is a divergence (the recorded one did not
// fault there), and the replay goes on from below the plug-in's frames; one
// while the replay runs is the replay's own, and ends it at once.
LONG CALLBACK OnFault(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (!R.active || (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_ILLEGAL_INSTRUCTION &&
                      code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_INT_DIVIDE_BY_ZERO &&
                      code != EXCEPTION_STACK_OVERFLOW && code != EXCEPTION_ARRAY_BOUNDS_EXCEEDED))
        return EXCEPTION_CONTINUE_SEARCH;
    // The last boundary played, named by its call.
    const Head* last =
        R.session != nullptr && R.cursor > 0 ? &R.session->heads[R.cursor - 1] : nullptr;
    for (size_t i = R.cursor; last != nullptr && last->kind == HeadKind::kReturn && i-- > 0;)
        if (R.session->heads[i].kind != HeadKind::kReturn &&
            R.session->heads[i].sequence == last->sequence)
            last = &R.session->heads[i];
    char text[256];
    std::snprintf(text, sizeof text, "a fault 0x%08lX at 0x%08lX (reading or writing 0x%08lX)",
                  static_cast<unsigned long>(code),
                  static_cast<unsigned long>(Seen(info->ExceptionRecord->ExceptionAddress)),
                  static_cast<unsigned long>(info->ExceptionRecord->NumberParameters > 1
                                                 ? info->ExceptionRecord->ExceptionInformation[1]
                                                 : 0));
    const std::string after = last != nullptr ? CallName(*last) : std::string("the start");
    if (!R.plugin_running || R.incoming.empty() || code == EXCEPTION_STACK_OVERFLOW) {
        std::printf("%sthe replay itself failed after %s: %s\n",
                    R.plugin_running ? "the plug-in overflowed its stack, and " : "", after.c_str(),
                    text);
        std::fflush(stdout);
        ExitProcess(kReplayFault);
    }
    R.report = "divergence after " + after + ": the plug-in ends with " + text + "\n";
    R.stopping = kReplayDiverged;
    R.plugin_running = false;
    // As if called, with room below where it faulted.
    CONTEXT* context = info->ContextRecord;
    context->Esp = ((context->Esp - 256) & ~15u) - 4;
    context->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&LeaveAfterFault));
    return EXCEPTION_CONTINUE_EXECUTION;
}

// ------------------------------------------------------------------ sessions

void Say(const std::string& text) {
    if (R.output != nullptr)
        *R.output += text;
    else
        std::fputs(text.c_str(), stdout);
}

// The arenas of a process: each stretch of addresses covered by the blocks
// its sessions name, one after another in one allocation, each at the
// alignment its address has. False (R.report says why) when they need more
// than the replay keeps, or more than it can have.
bool PlaceArenas(const std::vector<Session>& sessions, size_t first, size_t last) {
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (size_t s = first; s < last; ++s)
        for (const Head& head : sessions[s].heads)
            for (const Detail& detail : head.details)
                if (detail.kind == DetailKind::kHeap ||
                    (detail.kind == DetailKind::kNew && detail.block_kind != BlockKind::kToken &&
                     detail.block_kind != BlockKind::kCode))
                    spans.emplace_back(detail.address, End(detail.address, detail.size));
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<uint64_t, uint64_t>> merged;
    for (const auto& span : spans)
        if (!merged.empty() && span.first < merged.back().second)
            merged.back().second = std::max(merged.back().second, span.second);
        else
            merged.push_back(span);
    uint64_t total = 0;
    for (const auto& span : merged)
        total += (span.second - span.first) + 16 + 16;  // its alignment, and a gap after it
    if (total > kMostRecordedBytes) {
        R.report = "the recording is damaged: the host's blocks of one process need " +
                   std::to_string(total) + " bytes, more than the " +
                   std::to_string(kMostRecordedBytes) + " the replay keeps\n";
        return false;
    }
    if (total > 0) {
        R.arena_memory = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (R.arena_memory == nullptr) {
            R.report = "the recording needs more memory than the replay has (" +
                       std::to_string(total) + " bytes of the host's blocks)\n";
            return false;
        }
    }
    uint32_t at = 0;
    for (const auto& span : merged) {
        // The same place within 16 bytes as the host's address.
        at = ((at + 15) & ~15u) + (static_cast<uint32_t>(span.first) & 15u);
        R.arenas.push_back({static_cast<uint32_t>(span.first),
                            static_cast<uint32_t>(span.second - span.first), R.arena_memory + at});
        at += static_cast<uint32_t>(span.second - span.first) + 16;
    }
    return true;
}

void EndSession() {
    ForgetEverything();
    R.incoming.clear();
    R.cursor = 0;
    R.calls = 0;
    R.depth = 0;
    R.report.clear();
    R.session = nullptr;
}

void EndLoad() {
    if (R.plugin != nullptr)
        FreeLibrary(R.plugin);
    R.plugin = nullptr;
    R.functions.clear();
    R.answers = {};
}

void EndProcess() {
    EndLoad();
    if (R.arena_memory != nullptr)
        VirtualFree(R.arena_memory, 0, MEM_RELEASE);
    R.arena_memory = nullptr;
    R.arenas.clear();
    R.tokens.clear();
    R.token_addresses.clear();
    R.stubs = 0;
}

// The session played whole; its outcome.
ReplayOutcome PlaySession(const Session& session) {
    R.session = &session;
    try {
        PlayTopLevel();
        return kReplayIdentical;
    } catch (const Stop& stop) {
        return stop.outcome;
    } catch (const LeftByHost&) {
        R.report = "the recording is damaged: a long jump out of no call of the host's\n";
        return kReplayDamaged;
    } catch (const std::bad_alloc&) {
        R.report = "the recording needs more memory than the replay has\n";
        return kReplayDamaged;
    }
}

std::string SessionName(const std::vector<Session>& sessions, size_t s) {
    return "session " + std::to_string(s + 1) + " (" + sessions[s].header + ")";
}

// Whether two sessions belong to one process, and then to one load.
bool SameProcess(const Session& a, const Session& b) {
    return a.named && b.named && a.process == b.process;
}

int ReplaySessions(const std::vector<Session>& sessions, const wchar_t* plugin_path) {
    size_t life_end = 0;
    size_t load_end = 0;
    uint32_t next_start = 0;
    for (size_t s = 0; s < sessions.size(); ++s) {
        const Session& session = sessions[s];
        if (s == life_end) {
            EndProcess();
            life_end = s + 1;
            while (life_end < sessions.size() && SameProcess(sessions[s], sessions[life_end]))
                ++life_end;
            if (!PlaceArenas(sessions, s, life_end)) {
                Say(SessionName(sessions, s) + ":\n" + R.report);
                return kReplayDamaged;
            }
        }
        if (s == load_end) {
            EndLoad();
            load_end = s + 1;
            while (load_end < life_end && sessions[load_end].load == session.load)
                ++load_end;
            next_start = 1;
            R.plugin = LoadLibraryW(plugin_path);
            if (R.plugin == nullptr) {
                Say("the plug-in cannot be loaded\n");
                return kReplayNoPlugin;
            }
            AnswerForTheSystem(R.plugin);
            R.answers = AnswersOf(sessions, s, load_end);
        }
        if (session.named && session.start != next_start) {
            Say(SessionName(sessions, s) + ": start " + std::to_string(session.start) +
                " of its load of the plug-in, but the recording holds " +
                (next_start == 1 ? std::string("no start before it")
                                 : "start " + std::to_string(next_start - 1) + " last") +
                " in that load (the recording was off in between, or the sessions before are "
                "in another file): the plug-in's state cannot be carried over\n");
            return kReplaySessionMissing;
        }
        next_start = session.start + session.starts;
        ReplayOutcome outcome = PlaySession(session);
        // A session that breaks off ends there, and says whether what came
        // before replayed identical; damage found before it says where it is.
        if (session.cut_line != 0 && (outcome == kReplayIdentical || outcome == kReplayDiverged ||
                                      (outcome == kReplayDamaged && R.report.empty()))) {
            const std::string where =
                "the recording breaks off at line " + std::to_string(session.cut_line) +
                (session.cut_inside.empty() ? std::string(", within the line")
                                            : ", inside " + session.cut_inside);
            if (outcome != kReplayDiverged)
                R.report = where + "; every call before it replayed identical\n";
            else
                R.report = where + "; before it, not identical:\n" + R.report;
            outcome = kReplayDamaged;
        }
        if (outcome == kReplayIdentical)
            Say(SessionName(sessions, s) + ": identical, " + std::to_string(R.calls) + " calls\n");
        else
            Say(SessionName(sessions, s) + ":\n" + R.report);
        EndSession();
        if (outcome != kReplayIdentical)
            return outcome;
    }
    return kReplayIdentical;
}

struct Run {
    const std::vector<Session>* sessions;
    const wchar_t* plugin_path;
    int outcome;
};

// On a stack of its own, deep enough for every call the recording may nest.
DWORD WINAPI RunReplay(void* argument) {
    auto* run = static_cast<Run*>(argument);
    try {
        run->outcome = ReplaySessions(*run->sessions, run->plugin_path);
    } catch (const std::bad_alloc&) {
        Say("the recording needs more memory than the replay has\n");
        run->outcome = kReplayDamaged;
    }
    EndSession();
    EndProcess();
    return 0;
}

int Replay(const wchar_t* recording, const wchar_t* plugin_path) {
    std::string bytes;
    if (FILE* file = _wfopen(recording, L"rb")) {
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, n);
        std::fclose(file);
    } else {
        Say("the recording cannot be read\n");
        return kReplayDamaged;
    }
    std::vector<Session> sessions;
    std::string why;
    if (!ReadRecording(bytes, sessions, why)) {
        Say("the recording is damaged: " + why + "\n");
        return kReplayDamaged;
    }
    bytes.clear();
    bytes.shrink_to_fit();
    if (R.token_space == nullptr) {
        R.token_space =
            static_cast<uint8_t*>(VirtualAlloc(nullptr, kTokenSpace, MEM_RESERVE, PAGE_NOACCESS));
        AddVectoredExceptionHandler(1, OnFault);
    }
    Run run{&sessions, plugin_path, kReplayIdentical};
    R.own_fault = std::getenv("QUENDRIX_REPLAY_OWN_FAULT") != nullptr;
    R.active = true;
    HANDLE thread = CreateThread(nullptr, kReplayStackSize, RunReplay, &run,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        RunReplay(&run);
    } else {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    R.active = false;
    return run.outcome;
}

}  // namespace
}  // namespace replay

using namespace replay;

extern "C" uint32_t ReplayHostCall(uint32_t index, const uint32_t* args) {
    return AtBoundary([&] { return AnswerOperation(index, args); });
}

// The host's exception translator, which the plug-in installs at every start.
extern "C" void HOST_CDECL HostExceptionTranslator(unsigned int, _EXCEPTION_POINTERS*) {}

extern "C" int ReplayRecording(const wchar_t* recording, const wchar_t* plugin_path) {
    R.output = nullptr;
    const int outcome = Replay(recording, plugin_path);
    std::fflush(stdout);
    return outcome;
}

extern "C" int ReplayRecordingInto(const wchar_t* recording, const wchar_t* plugin_path,
                                   char* output, uint32_t size) {
    std::string text;
    R.output = &text;
    const int outcome = Replay(recording, plugin_path);
    R.output = nullptr;
    if (output != nullptr && size > 0) {
        const size_t length = std::min<size_t>(text.size(), size - 1);
        std::memcpy(output, text.data(), length);
        output[length] = 0;
    }
    return outcome;
}
