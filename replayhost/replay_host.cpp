#include "replayhost/replay_host.h"

#include <windows.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "host/host_memory.h"
#include "host/host_operations.h"
#include "host/host_records.h"
#include "replayhost/recording.h"
#include "replayhost/replay_report.h"

namespace replay {
namespace {

// ------------------------------------------------------------------ host memory

BlockKind KindOf(const std::string& name) {
    for (size_t i = 0; i < std::size(kBlockKindNames); ++i)
        if (name == kBlockKindNames[i])
            return static_cast<BlockKind>(i);
    return BlockKind::kData;
}

// A block of host memory the recording names, and the replay's for it.
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
    uint32_t address = 0;
    uint32_t size = 0;
    std::vector<uint8_t> bytes;
    char word = 0;
};

constexpr int kStubs = 8;
constexpr uint32_t kTokenSpace = 0x10000;

// A call of the host into the plug-in made by the replay, and where a long
// jump of the host's out of the plug-in lands.
struct Incoming {
    const Head* head;
    std::jmp_buf jump;
};

// ------------------------------------------------------------------ the state

struct Replay {
    const Session* session = nullptr;
    size_t cursor = 0;
    HMODULE plugin = nullptr;
    std::vector<Block> blocks;
    std::map<uint32_t, uint32_t> functions;  // the plug-in's, recorded -> replayed
    Region regions[kRecordedRegions];
    std::vector<Incoming*> incoming;  // innermost last
    std::jmp_buf end;
    std::string report;
    uint8_t* tokens = nullptr;  // a reserved page range that faults when read
    uint32_t next_token = 0;
    uint32_t stub_code[kStubs] = {};  // the recorded code each stub answers for
    int stubs = 0;
    uint32_t calls = 0;
    // Dropped blocks, their memory given back at the session's end: a
    // plug-in that still reads one reads what was there, not freed memory,
    // and a word of host memory that still names one (an entry of a line
    // array past its count, say) is still what it was.
    std::vector<uint8_t*> dropped;
    std::vector<Block> gone;
};

Replay R;

[[noreturn]] void Diverge() {
    std::longjmp(R.end, 1);
}

[[noreturn]] void Inconsistent(const Head* head, const std::string& what) {
    R.report = "the recording is inconsistent";
    if (head != nullptr)
        R.report += " at line " + std::to_string(head->line);
    R.report += ": " + what + "\n";
    Diverge();
}

const Head* Next() {
    return R.cursor < R.session->heads.size() ? &R.session->heads[R.cursor] : nullptr;
}

Block* Find(uint32_t address) {
    if (address == 0)
        return nullptr;
    for (Block& block : R.blocks)
        if (block.size == 0 ? address == block.address : address - block.address < block.size)
            return &block;
    return nullptr;
}

// The block whose replay memory holds a seen address.
Block* FindSeen(uint32_t seen) {
    for (Block& block : R.blocks) {
        const auto start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block.memory));
        if (block.size != 0 && seen - start < block.size)
            return &block;
    }
    return nullptr;
}

void Free(Block& block) {
    if (block.kind != BlockKind::kToken && block.kind != BlockKind::kCode)
        R.dropped.push_back(block.memory);
    Block gone;
    gone.address = block.address;
    gone.size = block.size;
    gone.memory = block.memory;
    R.gone.push_back(std::move(gone));
}

void Forget(uint32_t address, uint32_t size) {
    const uint32_t end = address + (size == 0 ? 1 : size);
    for (size_t i = R.blocks.size(); i-- > 0;) {
        Block& b = R.blocks[i];
        if (b.address < end && address < b.address + (b.size == 0 ? 1 : b.size)) {
            Free(b);
            R.blocks.erase(R.blocks.begin() + static_cast<ptrdiff_t>(i));
        }
    }
}

uint32_t AnswerHostFunction(int stub, const uint32_t* args);

template <int N>
int32_t HOST_STDCALL HostFunctionStub(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4,
                                      uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8,
                                      uint32_t a9, uint32_t a10, uint32_t a11) {
    const uint32_t args[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11};
    return static_cast<int32_t>(AnswerHostFunction(N, args));
}

TableEventHook const kStubFunctions[kStubs] = {
    HostFunctionStub<0>, HostFunctionStub<1>, HostFunctionStub<2>, HostFunctionStub<3>,
    HostFunctionStub<4>, HostFunctionStub<5>, HostFunctionStub<6>, HostFunctionStub<7>};

void Declare(const Head& head, const Detail& detail) {
    Forget(detail.address, detail.size);
    Block block;
    block.address = detail.address;
    block.size = detail.size;
    block.kind = KindOf(detail.block_kind);
    if (block.kind == BlockKind::kToken) {
        if (R.next_token + 16 > kTokenSpace)
            Inconsistent(&head, "more handles of the host's than the replay keeps");
        block.memory = R.tokens + R.next_token;
        R.next_token += 16;
    } else if (block.kind == BlockKind::kCode) {
        if (R.stubs == kStubs)
            Inconsistent(&head, "more host functions than the replay answers for");
        R.stub_code[R.stubs] = detail.address;
        block.memory = reinterpret_cast<uint8_t*>(kStubFunctions[R.stubs++]);
    } else {
        block.memory = static_cast<uint8_t*>(std::calloc(block.size + 1, 1));
        block.copy.assign(block.size, 0);
        block.watched = true;
    }
    R.blocks.push_back(std::move(block));
}

void Heap(const Detail& detail) {
    auto* memory = static_cast<uint8_t*>(std::calloc(detail.size + 1, 1));
    if (Block* old = Find(detail.old); old != nullptr && detail.old != 0) {
        std::memcpy(memory, old->memory, std::min(old->size, detail.size));
        Forget(detail.old, old->size);
    }
    Forget(detail.address, detail.size);
    Block block;
    block.address = detail.address;
    block.size = detail.size;
    block.kind = BlockKind::kHeap;
    block.memory = memory;
    R.blocks.push_back(std::move(block));
}

// ------------------------------------------------------------------ values

uint32_t Seen(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// A recorded value as the replay has it; a function of the plug-in's that it
// has not seen yet is 0.
uint32_t Translate(char kind, uint32_t value, const Head* head) {
    if (kind == '!') {
        const auto found = R.functions.find(value);
        return found == R.functions.end() ? 0 : found->second;
    }
    if (kind != '*' || value == 0)
        return value;
    const Block* block = Find(value);
    for (size_t i = R.gone.size(); block == nullptr && i-- > 0;)
        if (value - R.gone[i].address < std::max(R.gone[i].size, 1u))
            block = &R.gone[i];
    if (block == nullptr)
        Inconsistent(head, "it names host memory at " + Hex(value) + " that it never described");
    return Seen(block->memory) + (value - block->address);
}

// Whether a seen value is what a recorded slot says; a function of the
// plug-in's seen for the first time is learned.
bool Matches(const Slot& slot, uint32_t seen, const Head* head) {
    switch (slot.kind) {
        case '-':
            return (seen & 0xFFFFu) == (slot.value & 0xFFFFu);
        case '&':
            return seen != 0 && FindSeen(seen) == nullptr;
        case '!': {
            const auto found = R.functions.find(slot.value);
            if (found == R.functions.end()) {
                R.functions[slot.value] = seen;
                return seen != 0;
            }
            return found->second == seen;
        }
        case '*':
            return Translate('*', slot.value, head) == seen;
        default:
            return seen == slot.value;
    }
}

// What a recorded slot means, and what a seen value is, in words.
std::string Meaning(const Slot& slot) {
    std::string text = std::string(1, slot.kind) + Hex(slot.value);
    if (slot.kind == '*' && slot.value != 0) {
        if (const Block* block = Find(slot.value))
            text += " (host memory " + Hex(block->address) + " + " +
                    std::to_string(slot.value - block->address) + ")";
    } else if (slot.kind == '&') {
        text += " (the plug-in's own memory)";
    } else if (slot.kind == '!') {
        text += " (a function of the plug-in's)";
    }
    return text;
}

std::string SeenMeaning(uint32_t seen) {
    std::string text = "0x" + Hex(seen);
    if (const Block* block = FindSeen(seen))
        text += " (host memory " + Hex(block->address) + " + " +
                std::to_string(seen - Seen(block->memory)) + ")";
    return text;
}

// ------------------------------------------------------------------ changes

void Apply(Block& block, const std::vector<Change>& changes, bool memory, const Head& head) {
    for (const Change& change : changes) {
        if (change.offset + change.bytes.size() > block.size)
            Inconsistent(&head, "bytes beyond the end of block " + Hex(block.address));
        std::memcpy(block.copy.data() + change.offset, change.bytes.data(), change.bytes.size());
        if (change.word != 0)
            block.words[change.offset] = change.word;
        if (!memory)
            continue;
        if (change.word != 0) {
            uint32_t value;
            std::memcpy(&value, change.bytes.data(), 4);
            value = Translate(change.word, value, &head);
            std::memcpy(block.memory + change.offset, &value, 4);
        } else {
            std::memcpy(block.memory + change.offset, change.bytes.data(), change.bytes.size());
        }
    }
}

// The bytes a block should hold now, its words as the replay has them; a
// function of the plug-in's seen there for the first time is learned.
std::vector<uint8_t> Expected(const Block& block, const Head& head) {
    std::vector<uint8_t> expected = block.copy;
    for (uint32_t offset = 0; offset + 4 <= block.size; ++offset) {
        if (!PointerWordAt(block.kind, offset))
            continue;
        const auto word = block.words.find(offset);
        const char kind = word == block.words.end() ? '*' : word->second;
        Slot slot;
        slot.kind = kind;
        std::memcpy(&slot.value, block.copy.data() + offset, 4);
        uint32_t seen;
        std::memcpy(&seen, block.memory + offset, 4);
        uint32_t value = slot.value;
        if (kind == '!')
            value = Matches(slot, seen, &head) ? seen : Translate('!', slot.value, &head);
        else if (kind != '=')
            value = Translate(kind, slot.value, &head);
        std::memcpy(expected.data() + offset, &value, 4);
    }
    return expected;
}

Region& RegionAt(uint32_t address, uint32_t size, Region& scratch) {
    if (size > kLargestRecordedRegion) {
        scratch = {address, size, std::vector<uint8_t>(size, 0), 0};
        return scratch;
    }
    Region& region = R.regions[address % kRecordedRegions];
    if (region.address != address || region.size != size)
        region = {address, size, std::vector<uint8_t>(size, 0), 0};
    return region;
}

// A detail's changes made to the bytes a region holds as recorded.
void ApplyChanges(Region& region, const Detail& detail, const Head& at) {
    for (const Change& change : detail.changes) {
        if (change.offset + change.bytes.size() > region.size)
            Inconsistent(&at, "bytes beyond the end of a region");
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
    for (const Operation& operation : kOperations)
        if (head.kind == HeadKind::kHost && operation.ordinal == head.ordinal)
            text += ParameterName(operation.parameters, argument);
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
    Diverge();
}

// ------------------------------------------------------------------ the boundaries

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

uint32_t RecordedPlace(const Detail& detail, const Head& call, const Head& at) {
    const std::vector<Slot>& slots = detail.place < 0 ? at.slots : call.slots;
    const size_t index = detail.place < 0 ? 0 : static_cast<size_t>(detail.place);
    return index < slots.size() ? slots[index].value : 0;
}

void CompareRegion(const Head& call, const Head& at, const Detail& detail, const uint32_t* seen,
                   size_t count, uint32_t result) {
    Region scratch;
    Region& region = RegionAt(RecordedPlace(detail, call, at), detail.size, scratch);
    ApplyChanges(region, detail, at);
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
        if (slot.kind != '&' && !Matches(slot, value, &call))
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
    Region scratch;
    Region& region = RegionAt(RecordedPlace(detail, call, at), detail.size, scratch);
    const uint32_t place = PlaceOf(detail, seen, count, 0);
    if (place == 0 || !Readable(place, detail.size))
        DivergeAt(call,
                  "  " + ArgumentName(call, detail.place) +
                      ": the host wrote there after the call, but nothing can be written at " +
                      SeenMeaning(place) + "\n");
    auto* bytes = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(place));
    ApplyChanges(region, detail, at);
    if (region.word != 0 && region.word != '&') {
        uint32_t value;
        std::memcpy(&value, region.bytes.data(), 4);
        value = Translate(region.word, value, &at);
        std::memcpy(bytes, &value, 4);
    } else if (region.word == 0) {
        std::memcpy(bytes, region.bytes.data(), detail.size);
    }
}

Block& BlockAt(const Head& head, uint32_t address) {
    Block* block = Find(address);
    if (block == nullptr || block->address != address)
        Inconsistent(&head, "it names a block at " + Hex(address) + " that it never described");
    return *block;
}

// What the host made or put into its memory, at either side's boundary;
// false for any other detail.
bool ApplyHostMemory(const Head& at, const Detail& detail) {
    switch (detail.kind) {
        case DetailKind::kNew:
            Declare(at, detail);
            return true;
        case DetailKind::kHeap:
            Heap(detail);
            return true;
        case DetailKind::kSet:
            Apply(BlockAt(at, detail.address), detail.changes, true, at);
            return true;
        default:
            return false;
    }
}

// The host's side of a boundary: its changes applied, what it wrote through
// the call's arguments (seen) written there.
void ApplyHostSide(const Head& call, const Head& at, const uint32_t* seen, size_t count) {
    for (const Detail& detail : at.details) {
        if (ApplyHostMemory(at, detail))
            continue;
        switch (detail.kind) {
            case DetailKind::kDrop:
                Forget(detail.address, BlockAt(at, detail.address).size);
                break;
            case DetailKind::kOut:
                WriteRegion(call, at, detail, seen, count);
                break;
            default:
                Inconsistent(&at, "the plug-in's bytes where the host's are due");
        }
    }
}

// The plug-in's side of a boundary: the slots seen against the recorded ones,
// the bytes handed over, then every watched block against the recording.
void CheckPluginSide(const Head& call, const Head& at, const uint32_t* seen, size_t count,
                     uint32_t result) {
    std::vector<const Detail*> regions, drops;
    for (const Detail& detail : at.details) {
        if (ApplyHostMemory(at, detail))
            continue;
        switch (detail.kind) {
            case DetailKind::kWrote:
                Apply(BlockAt(at, detail.address), detail.changes, false, at);
                break;
            case DetailKind::kIn:
                regions.push_back(&detail);
                break;
            case DetailKind::kDrop:
                drops.push_back(&detail);
                break;
            default:
                Inconsistent(&at, "the host's bytes where the plug-in's are due");
        }
    }
    const bool returning = at.kind == HeadKind::kReturn;
    const std::vector<uint32_t> values =
        returning ? std::vector<uint32_t>{result} : std::vector<uint32_t>(seen, seen + count);
    for (size_t i = 0; i < at.slots.size() && i < values.size(); ++i)
        if (!Matches(at.slots[i], values[i], &call))
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
    for (const Detail* drop : drops)
        Forget(drop->address, BlockAt(at, drop->address).size);
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

// Calls into the plug-in; false when the host left it by a long jump.
bool CallPlugin(const Head& head, void* target, const uint32_t* args, size_t count,
                uint32_t& result) {
    Incoming frame{&head, {}};
    R.incoming.push_back(&frame);
    if (setjmp(frame.jump) != 0) {
        R.incoming.pop_back();
        return false;
    }
    result = CallStdcall(target, args, count);
    R.incoming.pop_back();
    return true;
}

void PlayIncoming(const Head& head) {
    ApplyHostSide(head, head, nullptr, 0);
    uint32_t args[13] = {};
    for (size_t i = 0; i < head.slots.size() && i < 13; ++i)
        args[i] = Translate(head.slots[i].kind, head.slots[i].value, &head);
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
        Inconsistent(&head, "a call of the plug-in with " + std::to_string(count) + " arguments");
    ++R.calls;
    uint32_t result = 0;
    if (!CallPlugin(head, target, args, count, result))
        return;  // the host left the plug-in by a long jump
    const Head* back = Next();
    if (back == nullptr || back->kind != HeadKind::kReturn || back->sequence != head.sequence)
        DivergeAt(head, "  the plug-in returned " + SeenMeaning(result) + ", but the recording " +
                            (back == nullptr
                                 ? std::string("ends first")
                                 : "has " + CallName(*back) + " " + Recorded(*back) + " first") +
                            "\n");
    ++R.cursor;
    CheckPluginSide(head, *back, args, count, result);
}

// The recorded answer to a call of the plug-in into the host: the head
// matched, its nested calls into the plug-in made, its effects applied.
uint32_t Answer(const Head* head, const uint32_t* args, const std::string& called) {
    if (head == nullptr) {
        R.report = "divergence after the last recorded call: the plug-in calls " + called +
                   ", the recording ends\n";
        Diverge();
    }
    ++R.cursor;
    ++R.calls;
    const size_t count = head->slots.size();
    CheckPluginSide(*head, *head, args, count, 0);
    for (;;) {
        const Head* next = Next();
        if (next == nullptr)
            Inconsistent(head, "it ends inside " + CallName(*head));
        ++R.cursor;
        if (next->kind == HeadKind::kReturn && next->sequence == head->sequence) {
            ApplyHostSide(*head, *next, args, count);
            if (next->slots.empty())
                return 0;
            const Slot& result = next->slots[0];
            // The host's result may be an argument of the plug-in's own memory.
            for (size_t i = 0; result.kind == '&' && i < count; ++i)
                if (head->slots[i].kind == '&' && head->slots[i].value == result.value)
                    return args[i];
            return Translate(result.kind, result.value, next);
        }
        if (next->kind == HeadKind::kEntry || next->kind == HeadKind::kCallback) {
            PlayIncoming(*next);
            continue;
        }
        if (next->kind == HeadKind::kLeft) {
            // The host left this call by a long jump, and with it the call into
            // the plug-in that made it.
            while (Next() != nullptr && Next()->kind == HeadKind::kLeft)
                ++R.cursor;
            if (R.incoming.empty())
                Inconsistent(next, "a long jump out of no call of the host's");
            std::longjmp(R.incoming.back()->jump, 1);
        }
        Inconsistent(next, CallName(*next) + " inside " + CallName(*head));
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
    const Operation& operation = kOperations[index];
    const Head* head = Next();
    const size_t shown = head != nullptr ? head->slots.size() : 0;
    const std::string called = Called(operation.name, args, shown);
    if (head != nullptr && (head->kind != HeadKind::kHost || head->ordinal != operation.ordinal))
        DivergeOnCall(*head, called);
    return Answer(head, args, called);
}

uint32_t AnswerHostFunction(int stub, const uint32_t* args) {
    const Head* head = Next();
    const std::string called = Called("the host's function", args, 11);
    if (head != nullptr &&
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
            default:
                Inconsistent(head, CallName(*head) + " outside any call of the host's");
        }
    }
}

// A fault of the plug-in (or of the replay) while it plays: said with the
// call it came at, and the replay ends there.
LONG CALLBACK ReportFault(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_ILLEGAL_INSTRUCTION &&
        code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_INT_DIVIDE_BY_ZERO &&
        code != EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    const Head* last = R.cursor > 0 ? &R.session->heads[R.cursor - 1] : nullptr;
    std::printf("divergence after %s: a fault 0x%08lX at 0x%08lX (reading or writing 0x%08lX)\n",
                last != nullptr ? CallName(*last).c_str() : "the start",
                static_cast<unsigned long>(code),
                static_cast<unsigned long>(Seen(info->ExceptionRecord->ExceptionAddress)),
                static_cast<unsigned long>(info->ExceptionRecord->NumberParameters > 1
                                               ? info->ExceptionRecord->ExceptionInformation[1]
                                               : 0));
    std::printf("not identical\n");
    std::fflush(stdout);
    ExitProcess(kReplayDiverged);
}

// The session played whole; false at a divergence (R.report says which).
bool PlaySession() {
    if (setjmp(R.end) != 0)
        return false;
    PlayTopLevel();
    return true;
}

void Reset() {
    for (Block& block : R.blocks)
        Free(block);
    for (uint8_t* memory : R.dropped)
        std::free(memory);
    R.dropped.clear();
    R.gone.clear();
    R.blocks.clear();
    R.functions.clear();
    for (Region& region : R.regions)
        region = {};
    R.incoming.clear();
    R.next_token = 0;
    R.stubs = 0;
    R.cursor = 0;
    R.calls = 0;
    R.report.clear();
}

}  // namespace
}  // namespace replay

using namespace replay;

extern "C" uint32_t ReplayHostCall(uint32_t index, const uint32_t* args) {
    return AnswerOperation(index, args);
}

// The host's exception translator, which the plug-in installs at every start.
extern "C" void HOST_CDECL HostExceptionTranslator(unsigned int, _EXCEPTION_POINTERS*) {}

extern "C" int ReplayRecording(const wchar_t* recording, const wchar_t* plugin_path) {
    std::string bytes;
    if (FILE* file = _wfopen(recording, L"rb")) {
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, n);
        std::fclose(file);
    } else {
        std::printf("the recording cannot be read\n");
        return kReplayUnreadable;
    }
    std::vector<Session> sessions;
    std::string why;
    if (!ReadRecording(bytes, sessions, why)) {
        std::printf("%s\n", why.c_str());
        return kReplayUnreadable;
    }
    if (R.tokens == nullptr) {
        R.tokens =
            static_cast<uint8_t*>(VirtualAlloc(nullptr, kTokenSpace, MEM_RESERVE, PAGE_NOACCESS));
        AddVectoredExceptionHandler(1, ReportFault);
    }
    int outcome = kReplayIdentical;
    for (size_t s = 0; s < sessions.size() && outcome == kReplayIdentical; ++s) {
        Reset();
        R.session = &sessions[s];
        R.plugin = LoadLibraryW(plugin_path);
        if (R.plugin == nullptr) {
            std::printf("the plug-in cannot be loaded\n");
            return kReplayNoPlugin;
        }
        if (PlaySession()) {
            std::printf("session %u (%s): identical, %u calls\n", static_cast<unsigned>(s + 1),
                        sessions[s].header.c_str(), static_cast<unsigned>(R.calls));
        } else {
            std::printf("session %u (%s):\n%s", static_cast<unsigned>(s + 1),
                        sessions[s].header.c_str(), R.report.c_str());
            outcome = kReplayDiverged;
        }
        FreeLibrary(R.plugin);
        R.plugin = nullptr;
        Reset();
    }
    std::fflush(stdout);
    return outcome;
}
