#include "tests/support/command_port_script.h"

void CommandPortScript::attachTo(ScriptedTransport& transport) {
    transport.onWrite = [this](ScriptedTransport& link, const Bytes& written) {
        std::string text(written.begin(), written.end());
        if (text == "\r\n") return;
        received.push_back(text);
        auto reply = replies.find(text);
        if (reply != replies.end()) link.queueRead(bytesOf(reply->second + "\r\n"));
    };
}
