// A unit's command port played over a scripted transport.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/scripted_transport.h"

struct CommandPortScript {
    // Reply per command text; a command without an entry gets no reply.
    std::map<std::string, std::string> replies = {
        {"<SY,BQ/>", "<sy,bq = ud/>"},
        {"<SY,BU1234/>", "<sy,bu = ud/>"},
        {"<SY,BE/>", "<sy,be = ue/>"},
        {"<SY,BR/>", "<sy,br/>"},
    };
    std::vector<std::string> received;

    // Answers each command written to `transport` (line ends are ignored).
    void attachTo(ScriptedTransport& transport);
};
