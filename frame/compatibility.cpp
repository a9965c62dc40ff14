#include "frame/compatibility.h"

#include <cstring>

#include "frame/module_attach.h"
#include "frame/plugin_messages.h"
#include "frame/text_builder.h"
#include "host/host_api.h"

namespace {

constexpr const PluginMessage& kReportHead = Message(MessageId::kRecordSizeReport);
constexpr const PluginMessage& kRowStart = Message(MessageId::kRecordSizeRow);
constexpr const PluginMessage& kNoTable = Message(MessageId::kNoTable);
constexpr const PluginMessage& kReportTail = Message(MessageId::kRecordSizeTail);

constexpr uint32_t kFeatureTextLength = 60;
constexpr uint32_t kModulePathLength = kModulePathSize;
constexpr uint32_t kLabelLength = 8;     // the longer label, "Tspr_dok"
constexpr uint32_t kDecimalLength = 11;  // "-2147483648"
constexpr uint32_t kMaxRows = 4;         // each of the four tests at most once

// The longest report: every pattern byte (less its "%s"), the longest
// substitutions, four rows and the terminator.
constexpr uint32_t kLongestReport =
    (kReportHead.length - 2) + kFeatureTextLength +
    kMaxRows * (kRowStart.length + kLabelLength + 1 + kDecimalLength + 1 + kDecimalLength + 1) +
    (kReportTail.length - 2) + kModulePathLength + 1;
static_assert(kIncompatibilityReportSize >= kLongestReport);

constinit const char kHeaderLabelText[] = "Tspr";
constinit const char kLineLabelText[] = "Tspr_dok";
static_assert(sizeof(kLineLabelText) - 1 == kLabelLength);

// The module's file name: what follows the last backslash of its path.
const char* ModuleFileName(uint32_t* length) {
    const uint32_t path_length =
        static_cast<uint32_t>(strnlen(Attach.PluginModulePath, kModulePathLength));
    uint32_t start = 0;
    for (uint32_t i = 0; i < path_length; ++i)
        if (Attach.PluginModulePath[i] == '\\')
            start = i + 1;
    *length = path_length - start;
    return Attach.PluginModulePath + start;
}

}  // namespace

const char* const kHeaderTableLabel = kHeaderLabelText;
const char* const kLineTableLabel = kLineLabelText;

void FillRecordSizeCheck(RecordSizeCheck* record, int32_t actual, const char* label) {
    if (record->label != nullptr)
        return;
    record->actual = actual;
    record->label = label;
}

int32_t AddMismatch(RecordSizeCheck* record) {
    if (Compatibility.CompatibilityList == nullptr) {
        Compatibility.CompatibilityList = record;
        return -1;
    }
    RecordSizeCheck* last = Compatibility.CompatibilityList;
    for (;;) {
        if (last == record)
            return -1;
        if (last->next == nullptr)
            break;
        last = last->next;
    }
    last->next = record;
    return -1;
}

int32_t AddIfMismatched(RecordSizeCheck* record) {
    if (record->expected == record->actual)
        return 0;
    return AddMismatch(record);
}

int32_t CountMismatches() {
    int32_t count = 0;
    for (const RecordSizeCheck* r = Compatibility.CompatibilityList; r != nullptr; r = r->next)
        ++count;
    return count;
}

namespace {

void CheckTable(int32_t table_number, RecordSizeCheck* record, const char* label) {
    const HostTable* table = HostOpenTable(table_number);
    FillRecordSizeCheck(record, table != nullptr ? table->record_size : 0, label);
    AddIfMismatched(record);
}

}  // namespace

int32_t CheckRecordSizes() {
    CheckTable(kHeaderTable, &Compatibility.StartHeaderCheck, kHeaderTableLabel);
    CheckTable(kLineTable, &Compatibility.StartLineCheck, kLineTableLabel);
    return CountMismatches();
}

int32_t CheckHostCompatibility() {
    if (HostInterfaceVersion() != kInterfaceVersion)
        return -1;
    return CheckRecordSizes() != 0 ? -1 : 0;
}

uint32_t ComposeIncompatibilityReport(char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    TextBuilder report(buffer, size);
    report.AddPattern(kReportHead.text, FeatureText, kFeatureTextLength);
    for (const RecordSizeCheck* r = Compatibility.CompatibilityList; r != nullptr; r = r->next) {
        report.AddText(kRowStart.text, kRowStart.length);
        report.AddText(r->label != nullptr ? r->label : "", kLabelLength);
        report.Add("\t%ld\t", static_cast<long>(r->expected));
        if (r->actual == 0)
            report.AddText(kNoTable.text, kNoTable.length);
        else
            report.Add("%ld", static_cast<long>(r->actual));
        report.AddByte('\n');
    }
    uint32_t name_length = 0;
    const char* name = ModuleFileName(&name_length);
    report.AddPattern(kReportTail.text, name, name_length);
    return static_cast<uint32_t>(report.length);
}

void ShowIncompatibility() {
    if (Compatibility.CompatibilityList != nullptr) {
        char report[kIncompatibilityReportSize];
        ComposeIncompatibilityReport(report, sizeof report);
        ShowMessage(MessageId::kRecordSizeReport, report);
        return;
    }
    AskQuestion(MessageId::kVersionMismatch, static_cast<const char*>(FeatureText),
                static_cast<const char*>(FeatureText));
}
