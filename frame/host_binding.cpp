#include "frame/host_binding.h"

#include <cstdio>
#include <string_view>

#include "frame/call_recording.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/plugin_messages.h"
#include "host/mazovia_text.h"

namespace {

constexpr int kAnswerRetry = 4;
constexpr int kAnswerIgnore = 5;

// Room for the pattern, a 300-character path, the ordinal and FeatureText.
constexpr size_t kMessageSize = 1024;
constexpr size_t kModuleTextSize = 301;

constexpr const PluginMessage& kMissingEntry = Message(MessageId::kMissingEntry);
constexpr size_t kCaptionSize = std::string_view(kMissingEntry.caption).size() + 1;
static_assert(kMessageSize >= kMissingEntry.length + kModuleTextSize + 16 + FeatureText.size());

void ReplaceByte(char* text, char from, char to) {
    for (; *text != 0; ++text)
        if (*text == from)
            *text = to;
}

void ConvertWithOwnTable(char* text) {
    for (; *text != 0; ++text)
        *text = static_cast<char>(mazovia::ToWindows1250(static_cast<unsigned char>(*text)));
}

// From the host's encoding to the system's, in place. The host's converter is
// itself an entry: it is used when it is bound to the host or can still be
// bound (a nested binding). When it is the entry being bound right now, or
// the host lacks it, calling it would recurse or do nothing, so the plug-in's
// own table converts instead.
void ConvertForSystem(char* text) {
    const HostEntryState before = EntryState(HostEntryId::HostConvertText);
    if (before == HostEntryState::kUnbound || before == HostEntryState::kHost) {
        HostConvertText(text, text, kTextHost, kTextSystem);
        if (EntryState(HostEntryId::HostConvertText) == HostEntryState::kHost)
            return;
    }
    ConvertWithOwnTable(text);
}

}  // namespace

HostEntryState EntryState(size_t index) {
    return index < kHostEntryCount ? Binding.EntryStates[index] : HostEntryState::kUnbound;
}

int FallbackMember(uint32_t ordinal) {
    const uint32_t r = ordinal % 100;
    if (r == 99)
        return 0;
    if (r % 4 == 0 && r <= kLargestFallbackBytes)
        return static_cast<int>(r / 4);
    return -1;
}

void* ChooseFallback(uint32_t ordinal) {
    const int member = FallbackMember(ordinal);
    return member < 0 ? nullptr : ZeroFallback[member];
}

int EntryFallbackMember(const HostEntryDescriptor& entry) {
    // Where the digits name a member, it is replaced by the one that fits the
    // entry's own arguments: a member removing other than what the caller
    // pushed would unbalance the caller's stack. Where the digit rule fits,
    // the two are the same member.
    if (FallbackMember(entry.ordinal) < 0)
        return -1;
    return FittingMember(entry);
}

bool ReportMissingEntry(uint32_t ordinal) {
    if (Binding.IgnoreAllMissing)
        return true;

    char module_text[kModuleTextSize];
    const bool known =
        PlatformModuleFileName(Attach.PluginModuleHandle, module_text, sizeof(module_text)) != 0;
    RecordModulePath(module_text, known);
    if (!known)
        std::snprintf(module_text, sizeof(module_text), "%s",
                      Message(MessageId::kUnknownModule).text);
    char entry_text[16];
    std::snprintf(entry_text, sizeof(entry_text), "%u", static_cast<unsigned>(ordinal));

    char message[kMessageSize];
    ComposeMessage(message, sizeof(message), MessageId::kMissingEntry, module_text, entry_text,
                   FeatureText.c_str());
    char caption[kCaptionSize];
    std::snprintf(caption, sizeof(caption), "%s", kMissingEntry.caption);

    // The host's text switches mean nothing to a system message box.
    ReplaceByte(message, '\x01', ' ');
    ReplaceByte(message, '\x02', ' ');
    ConvertForSystem(message);
    ConvertForSystem(caption);

    int answer;
    do {
        answer = PlatformMessageBox(message, caption, static_cast<uint32_t>(kMissingEntry.flags));
        RecordButton(answer);
    } while (answer == kAnswerRetry);
    if (answer != kAnswerIgnore)
        return false;
    Binding.IgnoreAllMissing = true;
    return true;
}

extern "C" void BindHostEntry(uint32_t ordinal, void** target) {
    // The binding routine passes its own entry's target word.
    const size_t index = static_cast<size_t>(target - HostEntryTargets);
    const HostEntryDescriptor& entry = kHostEntries[index];
    Binding.EntryStates[index] = HostEntryState::kBinding;

    void* const found =
        PlatformLookupOrdinal(Attach.HostLibraryHandle, static_cast<uint16_t>(ordinal));
    RecordBinding(ordinal, found != nullptr);
    if (found != nullptr) {
        *target = found;
        Binding.EntryStates[index] = HostEntryState::kHost;
        return;
    }
    if (ReportMissingEntry(ordinal)) {
        const int member = EntryFallbackMember(entry);
        if (member >= 0) {
            *target = ZeroFallback[member];
            Binding.EntryStates[index] = HostEntryState::kFallback;
            return;
        }
    }
    // Empty: the call cannot reach any function. It is abandoned with a 0
    // result and the stack as the caller expects it, through the member that
    // fits its arguments, never through address 0, and the ordinal is not
    // looked up again.
    *target = ZeroFallback[FittingMember(entry)];
    Binding.EntryStates[index] = HostEntryState::kEmpty;
}
