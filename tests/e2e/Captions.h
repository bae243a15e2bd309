// What the main window's caption shows during a run, read from outside, for the end-to-end
// tests of the stand-in and of the real tool.
#pragma once

#include "tests/support/Harness.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace e2e {

// The captions a run shows until its message, each once, in order.
inline std::vector<std::string>
CaptionsUntilMessage(CClipmend& app, MessageBoxInfo* box,
                     const std::function<void(const std::string&)>& onNew = nullptr) {
    std::vector<std::string> captions;
    const ULONGLONG end = ::GetTickCount64() + kTimeoutMs;
    while (!app.MessageBoxAppears(0) && ::GetTickCount64() < end) {
        const std::string caption = WindowText(app.Main());
        if (captions.empty() || caption != captions.back()) {
            captions.push_back(caption);
            if (onNew)
                onNew(caption);
        }
        ::Sleep(10);
    }
    EXPECT_TRUE(app.WaitForMessageBox(box, 0)) << "the run did not end";
    return captions;
}

// Checks that the captions shown during a run read "<n>% <phase> - <original>" and that the
// one percentage of the run never fell; returns the phases in the order they showed.
inline std::vector<std::string> CheckProgressCaptions(const std::vector<std::string>& captions,
                                                      const std::string& original) {
    const std::regex progress("([0-9]+)% (.+) - " + original);
    std::vector<std::string> phases;
    int last = -1;
    for (const std::string& caption : captions) {
        std::smatch match;
        if (caption == original || !std::regex_match(caption, match, progress)) {
            EXPECT_EQ(original, caption);
            continue;
        }
        if (phases.empty() || match[2] != phases.back())
            phases.push_back(match[2]);
        EXPECT_GE(std::stoi(match[1]), last) << caption;
        last = std::stoi(match[1]);
    }
    return phases;
}

} // namespace e2e
