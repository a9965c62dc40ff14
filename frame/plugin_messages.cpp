#include "frame/plugin_messages.h"

namespace {

void Show(const PluginMessage& message, const char* text) {
    if (message.shown_by == ShownBy::HostShowText)
        HostShowText(text);
    else
        HostMessage(message.caption, text, message.flags);
}

}  // namespace

void ShowMessage(MessageId id) {
    Show(Message(id), Message(id).text);
}

void ShowMessage(MessageId id, const char* composed) {
    Show(Message(id), composed);
}
