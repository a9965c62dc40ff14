// What lies behind each argument and result of every call between the host
// and the plug-in, as the host interface fixes it: which memory the callee
// reads through a pointer, which it writes, and how much. The recording of
// the call trace (frame/call_recording.cpp) records by it every byte the
// plug-in reads of what the host handed it and every byte it hands over.
//
// Derived from the declared types where a type says it (ReachOf), described
// below where it does not (kReachDescriptions, the hook's arguments, the
// entry points). A type that says nothing by itself (void*, const void*,
// char*, va_list, a line array without its count) stays undescribed, and an
// undescribed argument of a host operation or callback does not compile.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/host_operations.h"
#include "host/host_records.h"
#include "host/recording_format.h"  // BlockKind

enum class Reach : uint8_t {
    kUndescribed,
    kNone,        // no result
    kValue,       // a number, or a pointer no one follows
    kValue16,     // a 16-bit value in the low half of its slot
    kToken,       // a handle of the host's that the plug-in only hands back
    kTable,       // a table object (HostTable*): its record buffer, its hook
    kRecord,      // a record of the host's of `size` bytes (a header, a line)
    kLines,       // a line array of the host's; its count is argument `related`
                  // (a value, or read through a pointer)
    kCount,       // a count in host memory (int32_t*); a new one ends what was fetched since
                  // the last
    kSelection,   // the selection list's array; as many entries as the last kCount result
    kHostBuffer,  // host memory of `size` bytes that the plug-in writes into
    kText,    // a text the callee reads, up to the 16-bit limit that follows it or kTextReadLimit
    kBuffer,  // `size` bytes of the caller's, read (kIn) or written (kOut) by the callee
    kTextBuffer,     // a text the host writes: `size` bytes, or limit + 1 where `related` is
                     // a 16-bit limit, or as long as the text that argument `related` is
    kRecordBuffer,   // a record of the table that argument `related` is; null: the table's own
    kTableWord,      // a word of the caller's holding a table (HostTable**)
    kTokenWord,      // a word of the caller's holding a token (RangeHandle*, UpdateHandle*, void**)
    kLinesWord,      // a word of the caller's holding a line array (DocumentItem***), whose
                     // count argument `related` points to after the call
    kHeapBlock,      // a block of the host's heap; a result of `related` bytes, to which the
                     // block an argument of this reach names (unless the call gives it
                     // back) moves with its bytes
    kFunction,       // a function of the plug-in's that the host may call
    kDefinition,     // a block whose first 4 bytes count the bytes after them
    kProfileValues,  // a va_list of one value: the value itself, or where argument `related`
                     // is `through_when`, a pointer to where the host writes it
    kAddress,        // a pointer the plug-in never follows
    kRowText,        // a row callback's result: the count for row -1, otherwise a text
};

// Whether the callee reads what the argument points to, writes it, or both.
inline constexpr uint8_t kIn = 1;
inline constexpr uint8_t kOut = 2;

struct SlotReach {
    Reach reach = Reach::kUndescribed;
    uint8_t flow = 0;
    uint16_t size = 0;
    int8_t related = -1;
    bool gives_back = false;      // the call gives the block back to the host
    int32_t only_for_event = -1;  // when set: a value unless the call's first argument is this
    // A result the plug-in may read only up to the host's next call, which may
    // hand it out anew (the selection list); any other, as long as the call
    // into the plug-in it came in lasts, or until the same operation fetches
    // it again.
    bool until_next_call = false;
    int32_t through_when = -1;  // kProfileValues: the value of argument `related` for a read
};

// A call's slots, the result's first; slots past the declared arguments (a
// cdecl operation's variable part) only as described.
inline constexpr int kMostSlots = 13;
struct CallReach {
    SlotReach result;
    uint8_t count;
    SlotReach args[kMostSlots];
};

// The longest text a text argument is read to, its terminator included.
inline constexpr uint32_t kTextReadLimit = 4096;
// What the host's start entry writes its feature text into.
inline constexpr uint16_t kStartTextSize = 61;

// Where a pointer word lies in each kind of host memory a recording names
// (host/recording_format.h).
constexpr bool PointerWordAt(BlockKind kind, uint32_t offset) {
    switch (kind) {
        case BlockKind::kTable:
            return offset == offsetof(HostTable, record) || offset == offsetof(HostTable, hook);
        case BlockKind::kLines:
        case BlockKind::kSelection:
            return offset % 4 == 0;
        case BlockKind::kEntry:
            return offset == offsetof(SelectionEntry, record);
        default:
            return false;
    }
}

// ------------------------------------------------------------------ from the types

template <typename T>
inline constexpr bool kIsCallback = false;
#define HOST_MEMORY_CALLBACK(name, result, params) \
    template <>                                    \
    inline constexpr bool kIsCallback<name> = true;
HOST_CALLBACKS(HOST_MEMORY_CALLBACK)
#undef HOST_MEMORY_CALLBACK

template <typename T, typename... U>
inline constexpr bool kIsOneOf = (std::is_same_v<T, U> || ...);

template <typename T>
constexpr SlotReach ReachOf() {
    if constexpr (kIsOneOf<T, int16_t, uint16_t>)
        return {Reach::kValue16};
    else if constexpr (kIsOneOf<T, int32_t, uint32_t>)
        return {Reach::kValue};
    else if constexpr (std::is_same_v<T, const char*>)
        return {Reach::kText, kIn};
    else if constexpr (std::is_same_v<T, HostTable*>)
        return {Reach::kTable};
    else if constexpr (std::is_same_v<T, HostTable**>)
        return {Reach::kTableWord, kIn | kOut, 4};
    else if constexpr (kIsOneOf<T, RangeHandle, UpdateHandle>)
        return {Reach::kToken};
    else if constexpr (kIsOneOf<T, RangeHandle*, UpdateHandle*, void**>)
        return {Reach::kTokenWord, kIn | kOut, 4};
    else if constexpr (kIsOneOf<T, KeyBuffer*, ScanState*, int32_t*, int16_t*>)
        return {Reach::kBuffer, kIn | kOut, sizeof(std::remove_pointer_t<T>)};
    else if constexpr (kIsOneOf<T, DocumentHeader*, DocumentItem*>)
        return {Reach::kRecord, 0, sizeof(std::remove_pointer_t<T>)};
    else if constexpr (std::is_same_v<T, DocumentItem**>)
        return {Reach::kLines};  // its count is described
    else if constexpr (std::is_same_v<T, DocumentItem***>)
        return {Reach::kLinesWord, kIn | kOut, 4};  // its count is described
    else if constexpr (std::is_same_v<T, SelectionEntry**>)
        return {.reach = Reach::kSelection, .until_next_call = true};
    else if constexpr (kIsCallback<T>)
        return {Reach::kFunction};
    else if constexpr (std::is_same_v<T, RowCountOrText>)
        return {Reach::kRowText};
    else
        return {};
}

// A result: a count in host memory where an argument would be a caller's buffer.
template <typename T>
constexpr SlotReach ResultReachOf() {
    if constexpr (std::is_void_v<T>)
        return {Reach::kNone};
    else if constexpr (std::is_same_v<T, int32_t*>)
        return {Reach::kCount, 0, 4};
    else
        return ReachOf<T>();
}

template <typename F>
struct DerivedReach;
template <typename R, typename... A>
struct DerivedReach<R(A...)> {
    static_assert(sizeof...(A) <= kMostSlots);
    static constexpr CallReach value = {ResultReachOf<R>(), sizeof...(A), {ReachOf<A>()...}};
};
template <typename R, typename... A>
struct DerivedReach<R(A..., ...)> : DerivedReach<R(A...)> {};

// ------------------------------------------------------------------ described

// What the types do not say. slot -1 is the result; a slot past the declared
// arguments is one of a cdecl operation's variable part.
struct ReachDescription {
    int32_t ordinal;
    int8_t slot;
    SlotReach reach;
};

inline constexpr ReachDescription kReachDescriptions[] = {
    // Handles that a call gives back.
    {kOrdinalHostFreeRange, 0, {Reach::kTokenWord, kIn | kOut, 4, -1, true}},
    {kOrdinalHostEndUpdate, 1, {Reach::kTokenWord, kIn | kOut, 4, -1, true}},
    {kOrdinalHostEndUpdate, 2, {Reach::kTokenWord, kIn | kOut, 4, -1, true}},
    {kOrdinalHostFreeLines, 1, {Reach::kTokenWord, kIn | kOut, 4, -1, true}},
    // The key buffer is filled, never read.
    {kOrdinalHostMakeKey, 2, {Reach::kBuffer, kOut, sizeof(KeyBuffer)}},
    // A record of the table's size, or null for the table's own record buffer.
    {kOrdinalHostReadAt, 3, {Reach::kRecordBuffer, kIn | kOut, 0, 2}},
    {kOrdinalHostWriteAt, 3, {Reach::kRecordBuffer, kIn, 0, 2}},
    // A load hands out an array of as many lines as the count it leaves; the
    // free gives that array back.
    {kOrdinalHostLoadLines, 0, {Reach::kLinesWord, kIn | kOut, 4, 2}},
    {kOrdinalHostFreeLines, 0, {Reach::kLinesWord, kIn | kOut, 4, 2, true}},
    // Line arrays handed over with their count, through a pointer or as a value.
    {kOrdinalHostSaveLines, 2, {Reach::kLines, 0, 0, 3}},
    {kOrdinalHostUpdateLines, 0, {Reach::kLines, 0, 0, 1}},
    {kOrdinalHostUpdateTotals, 2, {Reach::kLines, 0, 0, 3}},
    // The question's text after the format.
    {kOrdinalHostQuestion, 3, {Reach::kText, kIn}},
    {kOrdinalHostListDialog, 0, {Reach::kDefinition, kIn}},
    {kOrdinalHostCopyText, 0, {Reach::kTextBuffer, kOut, 0, 2}},
    {kOrdinalHostCopyText, -1, {Reach::kAddress}},
    {kOrdinalHostFormatDate, 0, {Reach::kTextBuffer, kOut, kDateTextLength + 1}},
    // The header's date, as the host keeps it.
    {kOrdinalHostFormatDate, 1, {Reach::kBuffer, kIn, sizeof(DocumentHeader::issue_date)}},
    {kOrdinalHostConvertText, 0, {Reach::kTextBuffer, kOut, 0, 1}},
    {kOrdinalHostRealloc, 0, {Reach::kHeapBlock}},
    {kOrdinalHostRealloc, -1, {Reach::kHeapBlock, 0, 0, 1}},
    {kOrdinalHostFree, 0, {Reach::kHeapBlock, 0, 0, -1, true}},
    // One value after the format: read into through a pointer, or written.
    {kOrdinalHostProfileValue,
     4,
     {.reach = Reach::kProfileValues,
      .flow = kIn | kOut,
      .size = 4,
      .related = 0,
      .through_when = kProfileRead}},
};

// A reach says all it must: a count, size or table for those that need one.
constexpr bool Described(const SlotReach& slot, bool result) {
    switch (slot.reach) {
        case Reach::kUndescribed:
            return false;
        case Reach::kLines:
        case Reach::kLinesWord:
        case Reach::kRecordBuffer:
            return slot.related >= 0;
        case Reach::kTextBuffer:
            return slot.related >= 0 || slot.size > 0;
        case Reach::kHeapBlock:
            return !result || slot.related >= 0;
        default:
            return true;
    }
}

template <typename F>
constexpr CallReach OperationReach(int32_t ordinal) {
    CallReach call = DerivedReach<F>::value;
    for (const ReachDescription& described : kReachDescriptions) {
        if (described.ordinal != ordinal)
            continue;
        if (described.slot < 0)
            call.result = described.reach;
        else
            call.args[described.slot] = described.reach;
        if (described.slot >= call.count)
            call.count = static_cast<uint8_t>(described.slot + 1);
    }
    return call;
}

constexpr bool FullyDescribed(const CallReach& call) {
    bool all = Described(call.result, true);
    for (int i = 0; i < call.count; ++i)
        all = all && Described(call.args[i], false);
    return all;
}

// Each host operation's reach, in the order of the list.
#define HOST_MEMORY_OPERATION(name, ordinal, convention, bytes, result, params) \
    OperationReach<result params>(ordinal),
inline constexpr CallReach kOperationReach[] = {HOST_OPERATIONS(HOST_MEMORY_OPERATION)};
#undef HOST_MEMORY_OPERATION

static_assert(
    [] {
        for (const CallReach& call : kOperationReach)
            if (!FullyDescribed(call))
                return false;
        return true;
    }(),
    "an argument or result of a host operation is undescribed: describe it in "
    "kReachDescriptions");

// ------------------------------------------------------------------ calls into the plug-in

// The hook's arguments are those of a line event only for event 239: the
// count of lines, the lines, the line table and the range; for any other
// event they are not used, and taken as values.
inline constexpr SlotReach kNotUsed = {Reach::kValue};
template <Reach R>
inline constexpr SlotReach kOfLineEvent = {R,
                                           0,
                                           R == Reach::kCount ? uint16_t{4} : uint16_t{0},
                                           R == Reach::kLines ? int8_t{2} : int8_t{-1},
                                           false,
                                           static_cast<int32_t>(kEventLines)};

template <typename Callback>
constexpr CallReach CallbackReach();
#define HOST_MEMORY_CALLBACK_REACH(name, result, params) \
    template <>                                          \
    constexpr CallReach CallbackReach<name>() {          \
        return DerivedReach<result params>::value;       \
    }
HOST_CALLBACKS(HOST_MEMORY_CALLBACK_REACH)
#undef HOST_MEMORY_CALLBACK_REACH

template <typename Callback>
constexpr CallReach DescribedCallbackReach() {
    CallReach call = CallbackReach<Callback>();
    if constexpr (std::is_same_v<Callback, TableEventHook>) {
        call.args[2] = kOfLineEvent<Reach::kCount>;
        call.args[3] = kOfLineEvent<Reach::kLines>;
        call.args[5] = kOfLineEvent<Reach::kTable>;
        call.args[7] = kOfLineEvent<Reach::kToken>;
        call.args[4] = call.args[6] = call.args[8] = call.args[10] = kNotUsed;
    }
    return call;
}

#define HOST_MEMORY_CALLBACK_CHECK(name, result, params)          \
    static_assert(FullyDescribed(DescribedCallbackReach<name>()), \
                  "an argument of callback " #name " is undescribed");
HOST_CALLBACKS(HOST_MEMORY_CALLBACK_CHECK)
#undef HOST_MEMORY_CALLBACK_CHECK

// The entry points: the start's context is the host's handle, its text
// buffer host memory the plug-in writes; the others take numbers or nothing.
constexpr CallReach EntryReach(uint16_t ordinal) {
    if (ordinal == kOrdinalPluginStart)
        return {{Reach::kValue}, 2, {{Reach::kToken}, {Reach::kHostBuffer, 0, kStartTextSize}}};
    if (ordinal == kOrdinalPluginInstall)
        return {{Reach::kValue}, 1, {{Reach::kValue}}};
    return {{Reach::kValue}, 0, {}};
}
