#include "frame/call_recording.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "frame/host_entries.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/trace_file.h"

namespace {

RecordingState& R() {
    return Recording;
}

constexpr uint32_t kMostEntries = 1u << 20;  // the most lines or entries an array is read to
constexpr uint32_t kMostDefinition = 65536;

uint32_t Address(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

const uint8_t* At(uint32_t address) {
    return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address));
}

uint32_t ReadableSize(uint32_t address, uint32_t size) {
    return address == 0 ? 0 : PlatformReadableSize(At(address), size);
}

// A 32-bit word of host or plug-in memory, 0 where it cannot be read.
uint32_t WordIn(uint32_t address) {
    uint32_t word = 0;
    if (ReadableSize(address, 4) == 4)
        std::memcpy(&word, At(address), 4);
    return word;
}

// ------------------------------------------------------------------ the lines

// The lines of the boundary being recorded, in the C runtime's heap.
TextBuilder& Lines() {
    return R().text;
}

// A line of a kind begun: the kind and a space.
void BeginLine(const char* kind) {
    Lines().AddText(kind, SIZE_MAX);
    Lines().AddByte(' ');
}

void EndLine() {
    Lines().AddBytes("\r\n", 2);
}

// A slot: its kind and eight hexadecimal digits.
void AddSlot(char kind, uint32_t value) {
    Lines().AddByte(kind);
    Lines().AddHex(value, 8);
}

// ------------------------------------------------------------------ blocks

bool InImage(uint32_t address) {
    return address >= R().image_start && address < R().image_end;
}

// A dead block (given back, or overlapped by a newer one) has address 0 until
// the boundary ends; its index stays valid until then.
bool Contains(const RecordedBlock& block, uint32_t address) {
    if (block.address == 0)
        return false;
    return block.size == 0 ? address == block.address : address - block.address < block.size;
}

int FindBlock(uint32_t address) {
    if (address == 0)
        return -1;
    for (uint32_t i = 0; i < R().block_count; ++i)
        if (Contains(R().blocks[i], address))
            return static_cast<int>(i);
    return -1;
}

void Kill(uint32_t index) {
    RecordedBlock& block = R().blocks[index];
    std::free(block.copy);
    block = {};
}

// Dead blocks out, the order kept: at the end of each boundary.
void Compact() {
    RecordingState& r = R();
    uint32_t kept = 0;
    for (uint32_t i = 0; i < r.block_count; ++i)
        if (r.blocks[i].address != 0)
            r.blocks[kept++] = r.blocks[i];
    r.block_count = kept;
}

// A watched block's bytes are recorded at every boundary, against its copy.
bool Watched(const RecordedBlock& block) {
    return block.copy != nullptr;
}

// A block of the host's, known from now on, watched if it has bytes the
// plug-in reads; it replaces every known one it overlaps. -1 when nothing of
// it can be read.
int Declare(uint32_t address, uint32_t size, BlockKind kind, uint32_t old = 0) {
    RecordingState& r = R();
    if (address == 0)
        return -1;
    if (size > 0) {
        size = ReadableSize(address, size);
        if (kind == BlockKind::kLines || kind == BlockKind::kSelection)
            size &= ~3u;
        if (size == 0)
            return -1;
    }
    const uint32_t end = address + (size == 0 ? 1 : size);
    for (uint32_t i = 0; i < r.block_count; ++i) {
        const RecordedBlock& b = r.blocks[i];
        const uint32_t b_end = b.address + (b.size == 0 ? 1 : b.size);
        if (b.address != 0 && b.address < end && address < b_end)
            Kill(i);
    }
    if (r.block_count == r.block_capacity) {
        const uint32_t capacity = r.block_capacity == 0 ? 64 : 2 * r.block_capacity;
        auto* grown =
            static_cast<RecordedBlock*>(std::realloc(r.blocks, capacity * sizeof(RecordedBlock)));
        if (grown == nullptr) {
            r.short_of_memory = true;
            return -1;
        }
        r.blocks = grown;
        r.block_capacity = capacity;
    }
    RecordedBlock block = {};
    block.address = address;
    block.size = size;
    block.kind = kind;
    block.fresh = true;
    if (Watched(kind)) {
        block.copy = static_cast<uint8_t*>(std::calloc(size, 1));
        r.short_of_memory = r.short_of_memory || block.copy == nullptr;
    }
    r.blocks[r.block_count] = block;
    if (kind == BlockKind::kHeap) {
        BeginLine(kHeapLineKind);
        Lines().AddHex(address, 8);
        Lines().AddByte(' ');
        Lines().AddDecimal(size);
        if (old != 0) {
            Lines().AddByte(' ');
            Lines().AddHex(old, 8);
        }
    } else {
        BeginLine(kNewLineKind);
        Lines().AddHex(address, 8);
        Lines().AddByte(' ');
        Lines().AddDecimal(size);
        Lines().AddByte(' ');
        Lines().AddText(kBlockKindNames[static_cast<int>(kind)], SIZE_MAX);
    }
    EndLine();
    return static_cast<int>(r.block_count++);
}

// The block at exactly this address, of this size and kind (or as much of
// it as can be read), declared when there is none.
int Known(uint32_t address, uint32_t size, BlockKind kind) {
    const int found = FindBlock(address);
    if (found >= 0) {
        const RecordedBlock& b = R().blocks[found];
        if (b.address == address && b.kind == kind &&
            (b.size == size || (b.size < size && ReadableSize(address, size) == b.size)))
            return found;
    }
    return Declare(address, size, kind);
}

void Drop(uint32_t index) {
    BeginLine(kDropLineKind);
    Lines().AddHex(R().blocks[index].address, 8);
    EndLine();
    Kill(index);
}

// A block watched for itself; fetched_by: the operation (its index in the
// list, from 1) whose next result replaces it.
void MakeRoot(int index, uint32_t owner, uint16_t fetched_by = 0) {
    if (index < 0)
        return;
    RecordedBlock& b = R().blocks[index];
    if (b.root && b.owner == 0 && b.fetched_by == 0)
        return;  // kept for the session (a table) stays so
    b.root = true;
    b.owner = owner;
    b.fetched_by = fetched_by;
}

template <typename Which>
void EndRoots(Which which) {
    for (uint32_t i = 0; i < R().block_count; ++i)
        if (R().blocks[i].root && which(R().blocks[i]))
            R().blocks[i].root = false;
}

// How a word of memory is written: host memory, a function of the plug-in's,
// or a value.
char WordClass(uint32_t value) {
    if (value == 0 || FindBlock(value) >= 0)
        return kSlotHostMemory;
    return InImage(value) ? kSlotPluginFunction : kSlotValue;
}

// ------------------------------------------------------------------ changes

void PutOffset(uint32_t offset) {
    Lines().AddByte(' ');
    Lines().AddByte(kOffsetMark);
    Lines().AddDecimal(offset);
}

// The first offset from at on where a and b differ; size when none. Equal
// words are skipped four bytes at a time: most blocks do not change.
uint32_t NextDifference(const uint8_t* a, const uint8_t* b, uint32_t at, uint32_t size) {
    for (; at + 4 <= size; at += 4) {
        uint32_t x, y;
        std::memcpy(&x, a + at, 4);
        std::memcpy(&y, b + at, 4);
        if (x != y)
            break;
    }
    while (at < size && a[at] == b[at])
        ++at;
    return at;
}

// The bytes of now that differ from before, as changes, 4-byte words where
// word_at says one begins; before then holds now. Whether any differed.
template <typename WordAt>
bool PutChanges(uint8_t* before, const uint8_t* now, uint32_t size, WordAt word_at) {
    bool any = false;
    uint32_t position = 0;
    for (uint32_t i = NextDifference(before, now, 0, size); i < size;
         i = NextDifference(before, now, i, size)) {
        // A change inside a word is written as the whole word.
        for (uint32_t back = 1; back < 4 && i >= position + back; ++back)
            if (word_at(i - back)) {
                i -= back;
                break;
            }
        if (position != i)
            PutOffset(i);
        Lines().AddByte(' ');
        any = true;
        if (word_at(i) && i + 4 <= size) {
            uint32_t word;
            std::memcpy(&word, now + i, 4);
            AddSlot(WordClass(word), word);
            position = i += 4;
            continue;
        }
        // A run goes on over up to three equal bytes to the next change.
        uint32_t last_change = i;
        for (uint32_t at = i + 1; at < size && !word_at(at) && at - last_change <= 3; ++at)
            if (before[at] != now[at])
                last_change = at;
        for (uint32_t at = i; at <= last_change; ++at)
            Lines().AddHex(now[at], 2);
        position = i = last_change + 1;
    }
    std::memcpy(before, now, size);
    return any;
}

// ------------------------------------------------------------------ the walk
// Every boundary walks the blocks the plug-in may read, from the roots along
// their pointer words, records what changed in each, and drops the watched
// blocks it no longer reaches.

void Visit(uint32_t index, bool plugin_side);

// The blocks that block index's pointer words lead to: declared (declare)
// or visited.
void ForEachTarget(uint32_t index, bool declare, bool plugin_side) {
    const RecordedBlock b = R().blocks[index];
    const auto follow = [&](uint32_t target, uint32_t size, BlockKind kind) {
        if (target == 0 || (kind == BlockKind::kCode && InImage(target)))
            return;
        if (declare) {
            Known(target, size, kind);
        } else {
            const int found = FindBlock(target);
            if (found >= 0 && R().blocks[found].address == target)
                Visit(static_cast<uint32_t>(found), plugin_side);
        }
    };
    const auto word = [&](uint32_t offset) {
        uint32_t value;
        std::memcpy(&value, At(b.address + offset), 4);
        return value;
    };
    switch (b.kind) {
        case BlockKind::kTable: {
            int16_t record_size;
            std::memcpy(&record_size, At(b.address + offsetof(HostTable, record_size)), 2);
            if (record_size > 0)
                follow(word(offsetof(HostTable, record)), static_cast<uint32_t>(record_size),
                       BlockKind::kData);
            follow(word(offsetof(HostTable, hook)), 0, BlockKind::kCode);
            break;
        }
        case BlockKind::kLines:
        case BlockKind::kSelection: {
            const uint32_t entries = b.count < b.size / 4 ? b.count : b.size / 4;
            const bool lines = b.kind == BlockKind::kLines;
            for (uint32_t i = 0; i < entries; ++i)
                follow(word(4 * i), lines ? sizeof(DocumentItem) : sizeof(SelectionEntry),
                       lines ? BlockKind::kData : BlockKind::kEntry);
            break;
        }
        case BlockKind::kEntry:
            follow(word(offsetof(SelectionEntry, record)), sizeof(DocumentHeader),
                   BlockKind::kData);
            break;
        default:
            break;
    }
}

void Visit(uint32_t index, bool plugin_side) {
    RecordingState& r = R();
    if (r.blocks[index].visited == r.walk || !Watched(r.blocks[index]))
        return;
    // A root the host no longer keeps readable there it has given back: it is
    // not read, and the walk drops it. Only the host can have given it back
    // since the last boundary, only a root may be held beyond what a pointer
    // word of the host's now leads to, and a table never goes while the
    // plug-in is loaded.
    const RecordedBlock& held = r.blocks[index];
    if (held.root && held.kind != BlockKind::kTable && !plugin_side &&
        ReadableSize(held.address, held.size) != held.size)
        return;
    r.blocks[index].visited = r.walk;
    // The blocks its words lead to are known before its changes name them.
    ForEachTarget(index, true, plugin_side);
    RecordedBlock& b = r.blocks[index];
    const size_t start = Lines().length;
    BeginLine(plugin_side && !b.fresh ? kWroteLineKind : kSetLineKind);
    Lines().AddHex(b.address, 8);
    const RecordedBlock& block = b;
    if (PutChanges(b.copy, At(b.address), b.size,
                   [&](uint32_t offset) { return PointerWordAt(block.kind, offset); }))
        EndLine();
    else
        Lines().Truncate(start);
    ForEachTarget(index, false, plugin_side);
}

void Walk(bool plugin_side) {
    RecordingState& r = R();
    ++r.walk;
    for (uint32_t i = 0; i < r.block_count; ++i)
        if (r.blocks[i].root)
            Visit(i, plugin_side);
    for (uint32_t i = 0; i < r.block_count; ++i) {
        RecordedBlock& b = r.blocks[i];
        if (Watched(b) && b.visited != r.walk)
            Drop(i);
        else
            b.fresh = false;
    }
}

// ------------------------------------------------------------------ regions
// The plug-in's memory an argument points to (or host memory not watched),
// with its bytes as last recorded kept under the address the slot recorded:
// the replay finds a region by that address too.

RecordedRegion* RegionAt(uint32_t address, bool through_first_word, uint32_t size) {
    if (size > kLargestRecordedRegion)
        return nullptr;
    RecordedRegion& region = R().regions[address % kRecordedRegions];
    if (region.address != address || region.through_first_word != through_first_word ||
        region.size != size) {
        std::free(region.bytes);
        region = {address, through_first_word, size,
                  static_cast<uint8_t*>(std::calloc(size == 0 ? 1 : size, 1))};
        if (region.bytes == nullptr) {
            R().short_of_memory = true;
            region = {};
            return nullptr;
        }
    }
    return &region;
}

void PutPlace(int argument, bool through_first_word) {
    if (argument < 0) {
        Lines().AddText(kResultPlace, SIZE_MAX);
        return;
    }
    Lines().AddDecimal(static_cast<uint32_t>(argument));
    if (through_first_word)
        Lines().AddText(kFirstWordPlace, SIZE_MAX);
}

// @in or @out (line), the place, its size and its changes; a word region (kind
// not 0) writes its word whole, always. address is the slot's; through the
// first word, the region lies where the word there points.
void PutRegion(const char* line, int argument, bool through_first_word, uint32_t slot,
               uint32_t size, char kind = 0) {
    const uint32_t address = through_first_word ? WordIn(slot) : slot;
    size = ReadableSize(address, size);
    if (size == 0 || (kind != 0 && size != 4))
        return;
    BeginLine(line);
    PutPlace(argument, through_first_word);
    Lines().AddByte(' ');
    Lines().AddDecimal(size);
    RecordedRegion* region = RegionAt(slot, through_first_word, size);
    if (kind != 0) {
        uint32_t word;
        std::memcpy(&word, At(address), 4);
        Lines().AddByte(' ');
        AddSlot(kind, word);
        if (region != nullptr)
            std::memcpy(region->bytes, At(address), 4);
    } else if (region != nullptr) {
        PutChanges(region->bytes, At(address), size, [](uint32_t) { return false; });
    } else {
        auto* zero = static_cast<uint8_t*>(std::calloc(size, 1));
        if (zero != nullptr)
            PutChanges(zero, At(address), size, [](uint32_t) { return false; });
        R().short_of_memory = R().short_of_memory || zero == nullptr;
        std::free(zero);
    }
    EndLine();
}

// A text's bytes with its terminator, or limit bytes when it has none before.
uint32_t TextSize(uint32_t address, uint32_t limit) {
    const uint32_t readable = ReadableSize(address, limit);
    const char* text = reinterpret_cast<const char*>(At(address));
    uint32_t length = 0;
    while (length < readable && text[length] != 0)
        ++length;
    return length < readable ? length + 1 : readable;
}

// The record size of the table at address, 0 when it is no table.
uint32_t RecordSizeOf(uint32_t table) {
    const int found = FindBlock(table);
    if (found < 0 || R().blocks[found].kind != BlockKind::kTable)
        return 0;
    int16_t size;
    std::memcpy(&size, At(table + offsetof(HostTable, record_size)), 2);
    return size > 0 ? static_cast<uint32_t>(size) : 0;
}

// A count as the plug-in may take it: none below 0, no more than any array holds.
uint32_t Bounded(uint32_t count) {
    if (static_cast<int32_t>(count) < 0)
        return 0;
    return count < kMostEntries ? count : kMostEntries;
}

// A count an argument gives: its value, or the number it points to.
uint32_t CountOf(const CallReach& reach, int argument, const uint32_t* args) {
    if (argument < 0)
        return 0;
    const Reach kind = reach.args[argument].reach;
    return Bounded(kind == Reach::kValue || kind == Reach::kValue16 ? args[argument]
                                                                    : WordIn(args[argument]));
}

// A line array of the host's at address, as many lines as the count that
// argument related gives, watched for the call into the plug-in owner.
void DeclareLines(uint32_t address, const CallReach& reach, int related, const uint32_t* args,
                  uint32_t owner) {
    const uint32_t count = CountOf(reach, related, args);
    const int array = Declare(address, 4 * count, BlockKind::kLines);
    if (array >= 0)
        R().blocks[array].count = count;
    MakeRoot(array, owner);
}

bool Applies(const SlotReach& slot, const uint32_t* args) {
    return slot.only_for_event < 0 || args[0] == static_cast<uint32_t>(slot.only_for_event);
}

// Whether the slot is a pointer to where the host writes its value: the low
// word of its related argument says so (a profile read).
bool ThroughPointer(const SlotReach& slot, const uint32_t* args) {
    return (args[slot.related] & 0xFFFFu) == static_cast<uint32_t>(slot.through_when);
}

// ------------------------------------------------------------------ slots

// The innermost call into the plug-in, whose return ends what its work
// declares; 0 outside any.
uint32_t CurrentOwner() {
    for (int i = R().call_depth - 1; i >= 0; --i)
        if (R().calls[i].kind == CallKind::kIncoming)
            return R().calls[i].sequence;
    return 0;
}

// How a slot is written, its host memory declared when it is new.
char SlotClass(const CallReach& reach, int argument, const uint32_t* args, uint32_t owner) {
    const SlotReach& slot = reach.args[argument];
    const uint32_t value = args[argument];
    if (!Applies(slot, args))
        return slot.reach == Reach::kValue16 ? kSlotValue16 : kSlotValue;
    switch (slot.reach) {
        case Reach::kValue16:
            return kSlotValue16;
        case Reach::kValue:
        case Reach::kUndescribed:
            return kSlotValue;
        case Reach::kFunction:
            return value == 0 ? kSlotValue : kSlotPluginFunction;
        default:
            break;
    }
    if (value == 0)
        return kSlotHostMemory;
    const int found = FindBlock(value);
    switch (slot.reach) {
        case Reach::kToken:
            // A handle handed in by a call into the plug-in is good for that call.
            if (found < 0) {
                const int token = Declare(value, 0, BlockKind::kToken);
                if (token >= 0)
                    R().blocks[token].owner = owner;
            }
            return kSlotHostMemory;
        case Reach::kTable:
            MakeRoot(Known(value, sizeof(HostTable), BlockKind::kTable), 0);
            return FindBlock(value) >= 0 ? kSlotHostMemory : kSlotValue;
        case Reach::kRecord:
        case Reach::kHostBuffer:
        case Reach::kCount:
            if (found < 0)
                MakeRoot(Declare(value, slot.size, BlockKind::kData), owner);
            return FindBlock(value) >= 0 ? kSlotHostMemory : kSlotValue;
        case Reach::kLines:
            if (found < 0)
                DeclareLines(value, reach, slot.related, args, owner);
            return FindBlock(value) >= 0 ? kSlotHostMemory : kSlotValue;
        default:
            return found >= 0 ? kSlotHostMemory : kSlotPluginMemory;
    }
}

void PutSlots(TextBuilder& head, const CallReach& reach, const uint32_t* args, uint32_t owner) {
    for (int i = 0; i < reach.count; ++i)
        head.Add(" %c%08X", SlotClass(reach, i, args, owner), static_cast<unsigned>(args[i]));
}

// What the callee reads of memory an argument points to that no watched block
// holds: a text, a buffer, a word.
void PutIn(const CallReach& reach, int i, const uint32_t* args) {
    const SlotReach& slot = reach.args[i];
    const uint32_t value = args[i];
    const int found = FindBlock(value);
    if (value == 0 || !Applies(slot, args) || (found >= 0 && Watched(R().blocks[found])))
        return;
    switch (slot.reach) {
        case Reach::kText: {
            const bool limited = i + 1 < reach.count && reach.args[i + 1].reach == Reach::kValue16;
            PutRegion(kInLineKind, i, false, value,
                      TextSize(value, limited ? (args[i + 1] & 0xFFFFu) : kTextReadLimit));
            break;
        }
        case Reach::kBuffer:
            if (slot.flow & kIn)
                PutRegion(kInLineKind, i, false, value, slot.size);
            break;
        case Reach::kRecordBuffer:
            if (slot.flow & kIn)
                PutRegion(kInLineKind, i, false, value, RecordSizeOf(args[slot.related]));
            break;
        case Reach::kTableWord:
        case Reach::kTokenWord:
        case Reach::kLinesWord:
            PutRegion(kInLineKind, i, false, value, 4, WordClass(WordIn(value)));
            break;
        case Reach::kDefinition: {
            const uint32_t length = WordIn(value);
            PutRegion(kInLineKind, i, false, value, length < kMostDefinition ? 4 + length : 4);
            break;
        }
        case Reach::kProfileValues:
            if (ThroughPointer(slot, args))
                PutRegion(kInLineKind, i, false, value, 4, kSlotPluginMemory);
            else
                PutRegion(kInLineKind, i, false, value, 4);
            break;
        default:
            break;
    }
}

// What the host wrote where an argument points, after the call, and the host
// memory that what it wrote names.
void PutOut(const CallReach& reach, int i, const uint32_t* args, uint32_t owner) {
    const SlotReach& slot = reach.args[i];
    const uint32_t value = args[i];
    const int found = FindBlock(value);
    if (value == 0 || !(slot.flow & kOut) || (found >= 0 && Watched(R().blocks[found])))
        return;
    switch (slot.reach) {
        case Reach::kBuffer:
            PutRegion(kOutLineKind, i, false, value, slot.size);
            break;
        case Reach::kTextBuffer: {
            uint32_t size = slot.size;
            if (size == 0 && reach.args[slot.related].reach == Reach::kValue16)
                size = (args[slot.related] & 0xFFFFu) + 1;
            else if (size == 0)
                size = TextSize(value, kTextReadLimit);
            PutRegion(kOutLineKind, i, false, value, size);
            break;
        }
        case Reach::kRecordBuffer:
            PutRegion(kOutLineKind, i, false, value, RecordSizeOf(args[slot.related]));
            break;
        case Reach::kTableWord:
        case Reach::kTokenWord:
        case Reach::kLinesWord: {
            const uint32_t word = WordIn(value);
            if (word != 0 && FindBlock(word) < 0 && !slot.gives_back) {
                if (slot.reach == Reach::kTableWord) {
                    MakeRoot(Declare(word, sizeof(HostTable), BlockKind::kTable), 0);
                } else if (slot.reach == Reach::kTokenWord) {
                    Declare(word, 0, BlockKind::kToken);
                } else {
                    DeclareLines(word, reach, slot.related, args, owner);
                }
            }
            PutRegion(kOutLineKind, i, false, value, 4, WordClass(word));
            break;
        }
        case Reach::kProfileValues:
            if (ThroughPointer(slot, args))
                PutRegion(kOutLineKind, i, true, value, 4);
            break;
        default:
            break;
    }
}

// ------------------------------------------------------------------ results

// The result that operation index last fetched a root as; null for a root
// no operation fetched.
const SlotReach* FetchedAs(const RecordedBlock& block) {
    return block.fetched_by == 0 ? nullptr : &kOperationReach[block.fetched_by - 1].result;
}

// Whether a root may be read only up to the host's next call.
bool UntilNextCall(const RecordedBlock& block) {
    const SlotReach* fetched = FetchedAs(block);
    return fetched != nullptr && fetched->until_next_call;
}

// How the result of operation index is written, the host memory it names
// declared: a table, a token, what it fetches (a count, the selection list,
// each replacing what the operation fetched before), a block of the heap
// (the one an argument names moved there), or the plug-in's own memory.
char ResultClass(const CallReach& reach, size_t index, uint32_t eax, const RecordedCall& call,
                 uint32_t owner) {
    RecordingState& r = R();
    const SlotReach& result = reach.result;
    if (eax == 0)
        return result.reach == Reach::kValue16 ? kSlotValue16
               : result.reach == Reach::kValue ? kSlotValue
                                               : kSlotHostMemory;
    switch (result.reach) {
        case Reach::kTable:
            MakeRoot(Known(eax, sizeof(HostTable), BlockKind::kTable), 0);
            return kSlotHostMemory;
        case Reach::kToken:
            if (FindBlock(eax) < 0)
                Declare(eax, 0, BlockKind::kToken);
            return kSlotHostMemory;
        case Reach::kCount:
        case Reach::kSelection: {
            // Fetched again: what the last fetch handed out is replaced; a new
            // count may begin a new list, and ends whatever was fetched since
            // the last.
            const auto fetched_by = static_cast<uint16_t>(index + 1);
            const bool count_again = result.reach == Reach::kCount;
            EndRoots([&](const RecordedBlock& b) {
                return b.fetched_by == fetched_by || (count_again && b.fetched_by != 0);
            });
            uint32_t count = 1;
            BlockKind block = BlockKind::kData;
            if (result.reach == Reach::kSelection) {
                // As many entries as the count last fetched says.
                block = BlockKind::kSelection;
                count = 0;
                for (uint32_t i = 0; i < r.block_count; ++i) {
                    const SlotReach* fetched = FetchedAs(r.blocks[i]);
                    if (r.blocks[i].root && fetched != nullptr && fetched->reach == Reach::kCount)
                        count = Bounded(WordIn(r.blocks[i].address));
                }
            }
            const int found = Known(eax, 4 * count, block);
            if (found >= 0)
                r.blocks[found].count = count;
            MakeRoot(found, owner, fetched_by);
            return kSlotHostMemory;
        }
        case Reach::kHeapBlock: {
            // The block an argument names (unless the call gave it back) moves
            // there with its bytes.
            uint32_t old = 0;
            for (int i = 0; i < reach.count; ++i)
                if (reach.args[i].reach == Reach::kHeapBlock && !reach.args[i].gives_back)
                    old = call.args[i];
            const int moved = FindBlock(old);
            const bool from = old != 0 && moved >= 0 && r.blocks[moved].address == old;
            if (from)
                Kill(static_cast<uint32_t>(moved));
            Declare(eax, call.args[result.related], BlockKind::kHeap, from ? old : 0);
            return kSlotHostMemory;
        }
        case Reach::kAddress:
            return FindBlock(eax) >= 0 ? kSlotHostMemory : kSlotPluginMemory;
        case Reach::kValue16:
            return kSlotValue16;
        default:
            return kSlotValue;
    }
}

// ------------------------------------------------------------------ calls

RecordedCall* Push(uint32_t sequence, CallKind kind, const uint32_t* args, int count) {
    RecordingState& r = R();
    if (r.call_depth >= kRecordedNesting)
        return nullptr;
    RecordedCall& call = r.calls[r.call_depth++];
    call = {sequence, kind, {}, {}};
    for (int i = 0; i < count && i < kMostSlots; ++i)
        call.args[i] = args[i];
    return &call;
}

// The call's place among those running; -1 when it is none of them.
int Running(uint32_t sequence) {
    for (int i = R().call_depth - 1; i >= 0; --i)
        if (R().calls[i].sequence == sequence)
            return i;
    return -1;
}

// The readable line and the head's place after it.
size_t Begin(const TextBuilder& readable) {
    Lines().AddBytes(readable.text, readable.length);
    EndLine();
    return Lines().length;
}

// A call left without its return, by its sequence number.
void PutLeft(uint32_t sequence) {
    BeginLine(kLeftLineKind);
    Lines().AddDecimal(sequence, 6);
    EndLine();
}

// The head put in its place, and every line of the boundary written in one
// write. False when the write failed or memory ran short (the recording is
// then incomplete, and the trace is to stop).
bool Finish(size_t head_at, TextBuilder& head) {
    RecordingState& r = R();
    head.Add("\r\n");
    r.text.Insert(head_at, head.text, head.length);
    r.short_of_memory = r.short_of_memory || r.text.cut;
    const bool written = !r.short_of_memory && !head.cut &&
                         AppendTraceText(r.text.text, static_cast<uint32_t>(r.text.length));
    r.text.Clear();
    Compact();
    return written;
}

// Everything the recording knows of the host's memory forgotten: what it
// watches, the regions it keeps, the lines of a boundary not yet written.
void Forget() {
    RecordingState& r = R();
    for (uint32_t i = 0; i < r.block_count; ++i)
        std::free(r.blocks[i].copy);
    r.block_count = 0;
    for (RecordedRegion& region : r.regions) {
        std::free(region.bytes);
        region = {};
    }
    r.text.Clear();
    r.short_of_memory = false;
}

// The recording's turn is this boundary's. One a non-local exit left held on
// this thread cut a boundary short, whose lines were never written: it is
// recorded as lost, and the recording starts knowing the host's memory
// afresh. False when the turn could not be had (the boundary is not
// recorded).
bool Taken(const TraceTurn& turn) {
    if (!turn.held)
        return false;
    if (turn.taken_over && R().on) {
        Forget();
        Lines().AddText(kLostLineKind, SIZE_MAX);
        EndLine();
    }
    return true;
}

}  // namespace

// ------------------------------------------------------------------ switching

void StartRecording() {
    const TraceTurn turn(R().turn);
    if (!turn.held)
        return;
    RecordingState& r = R();
    r.on = true;
    PlatformModuleExtent(Attach.PluginModuleHandle, &r.image_start, &r.image_end);
}

void EndRecording() {
    const TraceTurn turn(R().turn);
    RecordingState& r = R();
    if (!r.on || !Taken(turn))
        return;
    while (r.call_depth > 0)
        PutLeft(r.calls[--r.call_depth].sequence);
    if (r.text.length > 0 && !r.short_of_memory && !r.text.cut)
        AppendTraceText(r.text.text, static_cast<uint32_t>(r.text.length));
    r.text.Clear();
}

void StopRecording() {
    const TraceTurn turn(R().turn);
    if (!turn.held)
        return;  // its memory stays where a thread still holds its turn
    RecordingState& r = R();
    Forget();
    std::free(r.blocks);
    r.text.Release();
    const uint32_t holder = r.turn;
    r = {};
    r.turn = holder;  // still held here; the turn's end gives it up
}

bool RecordingOn() {
    return std::atomic_ref<bool>(R().on).load();
}

// ------------------------------------------------------------------ boundaries

bool RecordHostCall(TextBuilder& readable, uint32_t sequence, size_t index, const uint32_t* args) {
    const TraceTurn turn(R().turn);
    if (!Taken(turn))
        return false;
    const CallReach& reach = kOperationReach[index];
    const uint32_t owner = CurrentOwner();
    const size_t head_at = Begin(readable);
    char text[512];
    TextBuilder head(text, sizeof text);
    head.Add("%s %06u %u %s", kHostLineKind, static_cast<unsigned>(sequence),
             static_cast<unsigned>(kHostEntries[index].ordinal), kHostEntries[index].name);
    PutSlots(head, reach, args, owner);
    Walk(true);
    // What was handed out only up to the host's next call (the selection
    // list, which the host may rebuild) is not read any more; its count stays
    // where it is.
    EndRoots(UntilNextCall);
    RecordedCall* call = Push(sequence, CallKind::kHostOperation, args, reach.count);
    int given = 0;
    for (int i = 0; i < reach.count; ++i) {
        PutIn(reach, i, args);
        const SlotReach& slot = reach.args[i];
        if (slot.gives_back && call != nullptr && given < 4)
            call->given_back[given++] = slot.reach == Reach::kHeapBlock ? args[i] : WordIn(args[i]);
    }
    return Finish(head_at, head);
}

bool RecordHostReturn(TextBuilder& readable, uint32_t sequence, size_t index, uint32_t eax) {
    const TraceTurn turn(R().turn);
    if (!Taken(turn))
        return false;
    RecordingState& r = R();
    const int at = Running(sequence);
    const size_t head_at = Begin(readable);
    char text[64];
    TextBuilder head(text, sizeof text);
    head.Add("%s %06u", kReturnLineKind, static_cast<unsigned>(sequence));
    if (at < 0)
        return Finish(head_at, head);
    const RecordedCall call = r.calls[at];
    r.call_depth = at;
    const CallReach& reach = kOperationReach[index];
    const uint32_t owner = CurrentOwner();
    // What the call gave back is no longer the plug-in's to read.
    for (uint32_t given : call.given_back) {
        const int found = FindBlock(given);
        if (given != 0 && found >= 0 && r.blocks[found].address == given)
            Drop(static_cast<uint32_t>(found));
    }
    const SlotReach& result = reach.result;
    const char kind = ResultClass(reach, index, eax, call, owner);
    if (result.reach != Reach::kNone)
        head.Add(" %c%08X", kind, static_cast<unsigned>(eax));
    for (int i = 0; i < reach.count; ++i)
        PutOut(reach, i, call.args, owner);
    // A line array handed over with a pointer to its count: the host may have
    // lowered it (a save that drops cleared lines); the lines beyond are not
    // read any more.
    for (int i = 0; i < reach.count; ++i) {
        const SlotReach& slot = reach.args[i];
        const int array = FindBlock(call.args[i]);
        if (slot.reach == Reach::kLines && array >= 0 && r.blocks[array].address == call.args[i])
            r.blocks[array].count = CountOf(reach, slot.related, call.args);
    }
    Walk(false);
    return Finish(head_at, head);
}

bool RecordIncomingCall(TextBuilder& readable, uint32_t sequence, const IncomingCall& call,
                        const void* target, const uint32_t* args) {
    const TraceTurn turn(R().turn);
    if (!Taken(turn))
        return false;
    const bool into_host = call.kind == CallKind::kHostFunction;
    const size_t head_at = Begin(readable);
    const uint32_t owner = into_host ? CurrentOwner() : sequence;
    Push(sequence, call.kind, args, call.reach.count);
    char text[512];
    TextBuilder head(text, sizeof text);
    if (into_host) {
        if (FindBlock(Address(target)) < 0)
            Declare(Address(target), 0, BlockKind::kCode);
        head.Add("%s %06u %c%08X %s", kHostFunctionLineKind, static_cast<unsigned>(sequence),
                 kSlotHostMemory, static_cast<unsigned>(Address(target)), call.name);
    } else if (call.ordinal != 0) {
        head.Add("%s %06u %u %s", kEntryLineKind, static_cast<unsigned>(sequence),
                 static_cast<unsigned>(call.ordinal), call.name);
    } else {
        head.Add("%s %06u %c%08X %s", kCallbackLineKind, static_cast<unsigned>(sequence),
                 kSlotPluginFunction, static_cast<unsigned>(Address(target)), call.name);
    }
    PutSlots(head, call.reach, args, owner);
    Walk(into_host);
    if (into_host) {
        // A function of the host's is a call of the host as much as an
        // operation is: what was handed out up to the next call ends here too.
        EndRoots(UntilNextCall);
        for (int i = 0; i < call.reach.count; ++i)
            PutIn(call.reach, i, args);
    }
    return Finish(head_at, head);
}

bool RecordIncomingReturn(TextBuilder& readable, uint32_t sequence, const IncomingCall& call,
                          const uint32_t* args, uint32_t result) {
    const TraceTurn turn(R().turn);
    if (!Taken(turn))
        return false;
    RecordingState& r = R();
    const bool from_host = call.kind == CallKind::kHostFunction;
    const size_t head_at = Begin(readable);
    char text[64];
    TextBuilder head(text, sizeof text);
    head.Add("%s %06u", kReturnLineKind, static_cast<unsigned>(sequence));
    const int at = Running(sequence);
    if (at >= 0)
        r.call_depth = at;
    const bool row_text =
        call.reach.result.reach == Reach::kRowText && static_cast<int16_t>(args[0] & 0xFFFFu) != -1;
    if (row_text && result != 0) {
        head.Add(" %c%08X", kSlotPluginMemory, static_cast<unsigned>(result));
        PutRegion(kInLineKind, -1, false, result, TextSize(result, kTextReadLimit));
    } else {
        head.Add(" %c%08X", row_text ? kSlotHostMemory : kSlotValue, static_cast<unsigned>(result));
    }
    Walk(!from_host);
    if (!from_host) {
        // What this call declared for itself ends with it.
        EndRoots([&](const RecordedBlock& b) { return b.owner == sequence; });
        Walk(true);
        for (uint32_t i = 0; i < r.block_count; ++i)
            if (r.blocks[i].kind == BlockKind::kToken && r.blocks[i].owner == sequence)
                Drop(i);
    }
    return Finish(head_at, head);
}

void RecordLeft(uint32_t sequence, CallKind kind) {
    const TraceTurn turn(R().turn);
    if (!Taken(turn))
        return;
    RecordingState& r = R();
    PutLeft(sequence);
    const int at = Running(sequence);
    if (at >= 0)
        r.call_depth = at;
    if (kind == CallKind::kIncoming)
        EndRoots([&](const RecordedBlock& b) { return b.owner == sequence; });
}

// ------------------------------------------------------------------ the system's answers

namespace {

// A line of a system answer, with the next boundary.
template <typename Fill>
void PutAnswer(const char* kind, Fill fill) {
    if (!RecordingOn())
        return;
    const TraceTurn turn(R().turn);
    if (!R().on || !Taken(turn))
        return;
    BeginLine(kSystemLineKind);
    BeginLine(kind);
    fill();
    EndLine();
}

}  // namespace

void RecordBinding(uint32_t ordinal, bool found) {
    PutAnswer(kSystemBind, [&] {
        Lines().AddDecimal(ordinal);
        Lines().AddByte(' ');
        Lines().AddText(found ? kSystemBindFound : kSystemBindMissing, SIZE_MAX);
    });
}

void RecordModulePath(const char* path, bool known) {
    PutAnswer(kSystemModule, [&] {
        if (!known || path[0] == 0) {
            Lines().AddText(kSystemModuleUnknown, SIZE_MAX);
            return;
        }
        for (const char* at = path; *at != 0; ++at)
            Lines().AddHex(static_cast<uint8_t>(*at), 2);
    });
}

void RecordButton(int answer) {
    PutAnswer(kSystemButton, [&] { Lines().AddDecimal(static_cast<uint32_t>(answer & 0xFF)); });
}

void RecordJournalSwitch(bool on) {
    PutAnswer(kSystemJournal, [&] { Lines().AddByte(on ? '1' : '0'); });
}

void RecordUnopenedJournal(const wchar_t* path) {
    if (path[0] == 0)
        return;
    PutAnswer(kSystemUnopened, [&] {
        for (const wchar_t* at = path; *at != 0; ++at)
            Lines().AddHex(static_cast<uint16_t>(*at), 4);
    });
}
