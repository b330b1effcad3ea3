// Runs work on a worker thread while the test thread receives its messages, as a window would.
#pragma once

#include <functional>
#include <vector>

#include "platform/window_messages.h"

std::vector<platform::WindowMessage> pumpWhile(platform::MessageQueue& queue, const std::function<void()>& work);
