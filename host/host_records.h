// The host's records, handles and callback types, as the host lays them out.
//
// Every layout is little-endian and packed; 32-bit and 8-byte fields may sit at
// odd offsets. The plug-in touches only the fields named here and treats whole
// records as opaque blocks of the table's record size. Each offset is checked at
// compile time below, so a change of layout cannot slip through silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/host_operations.h"

// The host's calling conventions. On targets without them, plain calls. The
// reserved spellings, since windows.h defines cdecl away as an empty macro.
#if defined(__i386__)
#define HOST_STDCALL __attribute__((__stdcall__))
#define HOST_CDECL __attribute__((__cdecl__))
#else
#define HOST_STDCALL
#define HOST_CDECL
#endif

// The ordinal of every host operation under its name: kOrdinalHostOpenTable
// and so on. Everything outside the list names an ordinal this way.
#define HOST_ORDINAL_ENUMERATOR(name, ordinal, convention, bytes, result, params) \
    kOrdinal##name = ordinal,
enum HostOrdinal : int32_t { HOST_OPERATIONS(HOST_ORDINAL_ENUMERATOR) };
#undef HOST_ORDINAL_ENUMERATOR

// The plug-in's entry points, which the host finds by these ordinals
// (plugin/quendrix.def exports them, without names).
inline constexpr uint16_t kOrdinalPluginStart = 30001;
inline constexpr uint16_t kOrdinalPluginInstall = 30008;
inline constexpr uint16_t kOrdinalPluginIdle = 30009;

// Table numbers and record sizes.
inline constexpr int32_t kHeaderTable = 44;
inline constexpr int32_t kLineTable = 45;
inline constexpr int32_t kHeaderRecordSize = 980;
inline constexpr int32_t kLineRecordSize = 298;

// Key numbers.
inline constexpr int32_t kKeyOrderHeaders =
    801;  // table 44, value 0: headers to look for orders in
inline constexpr int32_t kKeyDocumentLines = 802;  // table 45, value: a document identifier
inline constexpr int32_t kKeyEditedLines = 806;    // table 45: lines of the document being edited

// Events (first hook argument).
inline constexpr uint32_t kEventLines = 239;           // table 45, with key 806: compare the WZ
inline constexpr uint32_t kEventHeaderStored = 17152;  // table 44 (0x4300): header stored

// Result and flag codes.
inline constexpr int16_t kAnswerYes = 20481;  // 0x5001: yes, OK, and a confirmed menu call
inline constexpr int16_t kAnswerNo = 20482;   // 0x5002: no
inline constexpr int16_t kAnswerEscape = 27;  // the user left the window with Esc
inline constexpr int32_t kFlagsError = 1;
inline constexpr int32_t kFlagsWarning = kFlagsError;  // the same box, captioned "Uwaga"
inline constexpr int32_t kFlagsStop = 0xC001;
inline constexpr int32_t kFlagsYesNo = 0x20005;
inline constexpr int32_t kMenuCommand = 350;
inline constexpr int16_t kMenuPhaseConfirmed = 2;
inline constexpr int32_t kOrderListDialog = 1002;
inline constexpr int32_t kInstallNoticeDialog = 1668;
inline constexpr int32_t kProfileRead = 1;
inline constexpr int32_t kProfileWrite = 2;
inline constexpr int32_t kInterfaceVersion = 112;
inline constexpr int32_t kTextHost = 1;    // HostConvertText: the host's Mazovia text
inline constexpr int32_t kTextSystem = 3;  // HostConvertText: the system's Windows-1250 text
inline constexpr int32_t kTableMode = 255;
inline constexpr int32_t kSaveLinesFlags = 0x4100;
inline constexpr int16_t kComparedMarker = 2000;

// Dialog definitions, the block HostListDialog draws from: the kind of each
// item, and the numbers its items use.
enum ControlKind : uint16_t {
    kControlButton = 0,
    kControlLabel = 3,
    kControlTextLine = 4,
    kControlList = 6,
    kControlFrame = 7,
    kControlDialog = 0xFFFF,  // the dialog's own item
};
inline constexpr uint16_t kNoControlId = 0xFFFF;  // an item never asked for by number
inline constexpr uint16_t kHotKeyF3 = 0x3D00;
inline constexpr uint16_t kHotKeyF12 = 0x5500;
inline constexpr int32_t kProgressDialog = 1001;  // in the plug-in's block, never run

// ------------------------------------------------------------------ callbacks
// The plug-in's functions that the host calls through a pointer the plug-in
// hands it, one line each:
//
//   X(type, result, parameters)
//
// Each is stdcall with 32-bit argument slots. The parameters say what each
// slot carries, and the call trace shows it so: a 16-bit value in the low
// half (uint16_t, int16_t), a pointer, a number. The type itself passes every
// slot as a 32-bit integer, signed where the slot holds a signed 32-bit number,
// since the host leaves the upper half of a 16-bit slot undefined.
//
// TableEventHook: the 2nd and 10th arguments are 16-bit values. MenuCommandHandler:
// the host's answer and the phase of the call. ListRowCallback: row -1 asks
// for the row count, any other row for a pointer to that row's text.

// What a list dialog's row callback returns: the number of rows when asked
// for row -1, otherwise the row's text.
enum RowCountOrText : int32_t {};

/* clang-format off */
#define HOST_CALLBACKS(X) \
  X(TableEventHook,     int32_t,        (uint32_t event, uint16_t key, void* a3, void* a4, void* a5, void* a6, void* a7, void* a8, void* a9, uint16_t a10, void* a11)) \
  X(MenuCommandHandler, int32_t,        (uint16_t result, uint16_t phase)) \
  X(ListRowCallback,    RowCountOrText, (int16_t row, int32_t unused))
/* clang-format on */

template <typename T>
using HostSlot = std::conditional_t<std::is_same_v<T, int32_t>, int32_t, uint32_t>;

template <typename Declared>
struct HostCallbackOf;
template <typename R, typename... A>
struct HostCallbackOf<R(A...)> {
    static_assert(sizeof(R) == 4 && ((sizeof(A) <= 4) && ...), "one 32-bit slot each");
    using type = int32_t(HOST_STDCALL*)(HostSlot<A>...);
};

#define HOST_CALLBACK_TYPE(name, result, params) typedef HostCallbackOf<result params>::type name;
HOST_CALLBACKS(HOST_CALLBACK_TYPE)
#undef HOST_CALLBACK_TYPE

#pragma pack(push, 1)

struct HostTable;

// The host's object for one table, returned by HostOpenTable and owned by it.
struct HostTable {
    uint8_t reserved_0[6];
    int16_t record_size;
    void* record;  // the current record, one record long
    uint8_t reserved_12[92];
    TableEventHook hook;
};

// Header of a sales document, table 44.
struct DocumentHeader {
    uint8_t reserved_0[2];
    char number[17];  // at most 16 characters
    uint8_t reserved_19[211];
    uint8_t issue_date[29];  // host's date; only its address is handed to HostFormatDate
    double gross_value;      // stored multiplied by 10,000
    uint8_t reserved_267[124];
    int16_t compared_marker;  // kComparedMarker once compared with an order
    uint8_t reserved_393[31];
    char remarks[101];  // at most 100 characters
    uint8_t reserved_525[441];
    int16_t customer;
    uint8_t reserved_968[4];
    int32_t second_id;    // non-zero on every document that may be offered as an order
    int32_t document_id;  // the key under which the document's lines are found
};

// One line of a sales document, table 45.
struct DocumentItem {
    uint8_t reserved_0[2];
    char text[121];  // at most 120 characters; the article name
    uint8_t reserved_123[17];
    int32_t quantity;  // thousandths of a unit
    uint8_t reserved_144[6];
    double value_150;  // the host's; the comparison sets it to 0.0 on each WZ line
    uint8_t reserved_158[44];
    double value_202;  // the host's; set to 0.0 on every WZ article line after a comparison
    uint8_t reserved_210[82];
    int16_t article_key_second;
    int16_t article_key_first;  // 0: no article, or a cleared line
    uint8_t reserved_296[2];
};

// One entry of the host's selection list.
struct SelectionEntry {
    uint8_t reserved_0[22];
    uint8_t flag;
    uint8_t reserved_23[16];
    DocumentHeader* record;
    int32_t value;
};

#pragma pack(pop)

// Text lengths in characters, without the terminator: what the record fields
// hold, and what HostFormatDate writes at the most.
inline constexpr size_t kNumberLength = sizeof(DocumentHeader::number) - 1;
inline constexpr size_t kRemarksLength = sizeof(DocumentHeader::remarks) - 1;
inline constexpr size_t kLineTextLength = sizeof(DocumentItem::text) - 1;
inline constexpr size_t kDateTextLength = 12;

// Caller-owned buffers that the host fills and reads; contents are the host's.
struct KeyBuffer {
    uint8_t bytes[256];
};
struct ScanState {
    uint8_t bytes[196];
};

// Opaque handles handed out by the host.
struct HostRange;
struct HostUpdate;
typedef HostRange* RangeHandle;
typedef HostUpdate* UpdateHandle;

static_assert(offsetof(HostTable, record_size) == 6);
static_assert(offsetof(DocumentHeader, number) == 2);
static_assert(offsetof(DocumentHeader, issue_date) == 230);
static_assert(offsetof(DocumentHeader, gross_value) == 259);
static_assert(offsetof(DocumentHeader, compared_marker) == 391);
static_assert(offsetof(DocumentHeader, remarks) == 424);
static_assert(offsetof(DocumentHeader, customer) == 966);
static_assert(offsetof(DocumentHeader, second_id) == 972);
static_assert(offsetof(DocumentHeader, document_id) == 976);
static_assert(sizeof(DocumentHeader) == kHeaderRecordSize);
static_assert(offsetof(DocumentItem, text) == 2);
static_assert(offsetof(DocumentItem, quantity) == 140);
static_assert(offsetof(DocumentItem, value_150) == 150);
static_assert(offsetof(DocumentItem, value_202) == 202);
static_assert(offsetof(DocumentItem, article_key_second) == 292);
static_assert(offsetof(DocumentItem, article_key_first) == 294);
static_assert(sizeof(DocumentItem) == kLineRecordSize);
static_assert(offsetof(SelectionEntry, flag) == 22);
static_assert(sizeof(KeyBuffer) == 256);
static_assert(sizeof(ScanState) == 196);
#if defined(__i386__)
// Pointer fields have the host's 32-bit width only on the host's own target.
static_assert(offsetof(HostTable, record) == 8);
static_assert(offsetof(HostTable, hook) == 104);
static_assert(offsetof(SelectionEntry, record) == 39);
static_assert(offsetof(SelectionEntry, value) == 43);
static_assert(sizeof(SelectionEntry) == 47);
#endif
