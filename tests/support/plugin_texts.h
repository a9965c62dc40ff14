// The plug-in's texts as the tests name them: each message by its identifier
// in the plug-in's one list (frame/plugin_messages.h), whose texts
// Messages.TextsTheHostIsGivenAreExact checks byte for byte against a copy of
// its own; and the feature text, written out here.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "frame/plugin_messages.h"
#include "host/mazovia_text.h"
#include "standin/veldan_control.h"

namespace plugin_texts {

// The feature text written out byte by byte, independently of the Mazovia
// encoder too: 0xA1 is Ż and 0xA2 is ó in the host's code page.
inline const std::string kFeatureText =
    "\x02"
    "DOKUMENTY SPRZEDA\xA1Y:\x01\n1. Por\xA2wnaj WZ z zam\xA2wieniem - Ctrl+9";

// Bytes as a report shows them: printable ASCII as it is, every other byte
// as \xNN.
inline std::string Printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

inline std::string TextOf(MessageId id) {
    return Message(id).text;
}
inline std::string CaptionOf(MessageId id) {
    return Message(id).caption;
}

// The message's text with each "%s", in order, replaced by the next value.
inline std::string Filled(MessageId id, const std::vector<std::string>& values) {
    std::string text = TextOf(id);
    size_t at = 0;
    for (const std::string& value : values) {
        at = text.find("%s", at);
        if (at == std::string::npos)
            return text + "<more values than placeholders>";
        text.replace(at, 2, value);
        at += value.size();
    }
    return text;
}

// Whether a dialog call showed the message as the list says it is shown,
// with the text given (the list's own text by default; a question's format
// is the list's text, and what it showed the text given).
inline bool Shows(const VsDialogCall& call, MessageId id, const std::string& text) {
    const PluginMessage& message = Message(id);
    switch (message.shown_by) {
        case ShownBy::HostMessage:
            return call.ordinal == kOrdinalHostMessage && call.caption == CaptionOf(id) &&
                   call.flags == message.flags && call.text == text;
        case ShownBy::HostQuestion:
            return call.ordinal == kOrdinalHostQuestion && call.caption == CaptionOf(id) &&
                   call.flags == message.flags && call.format == TextOf(id) && call.text == text;
        case ShownBy::HostShowText:
            return call.ordinal == kOrdinalHostShowText && call.text == text;
        case ShownBy::HostNotice:
            return call.ordinal == kOrdinalHostNotice && call.dialog == message.flags &&
                   call.text == text;
        default:
            return false;
    }
}
inline bool Shows(const VsDialogCall& call, MessageId id) {
    return Shows(call, id, TextOf(id));
}

// Whether a dialog call shows the message by the list, naming values in its
// placeholders, in order: a check of which message it is and what it names,
// so that a table of cases holds the identifier and the values, never the
// sentence.
inline bool Names(const VsDialogCall& call, MessageId id, const std::vector<std::string>& values) {
    return Shows(call, id, Filled(id, values));
}

// The refusal report when record sizes differ: one row per table that failed
// its test (label, the plug-in's size, the host's size or "brak"), and the
// plug-in's file name.
inline std::string RefusalRow(const std::string& label, const std::string& plugin,
                              const std::string& host) {
    return TextOf(MessageId::kRecordSizeRow) + label + "\t" + plugin + "\t" + host + "\n";
}
inline std::string RefusalReport(const std::string& rows, const std::string& file) {
    return Filled(MessageId::kRecordSizeReport, {kFeatureText}) + rows +
           Filled(MessageId::kRecordSizeTail, {file});
}

}  // namespace plugin_texts
