// The start the tests of whole extraction runs share: a fresh host root with
// an empty D:\Target, the setup's state as its dialog leaves it (English
// messages, the product base "ZQNG", every language ticked) and no message
// or progress text shown yet; the state is put back afterwards. The archive
// goes to setup_path(), the setup's own file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "setup/setup_state.h"
#include "tests/winmodel/dialog.h"

struct ExtractionFixture : testing::Test {
    std::string root;
    char target[MAX_PATH] = "D:\\Target";
    LanguageEntry saved_languages[4];

    void SetUp() override;
    void TearDown() override;

    // Empties D:\Target and forgets the messages and progress texts shown.
    void reset_target();
    std::string setup_path() const;
    std::string in_target(const std::string &name) const;
    static bool exists(const std::string &host);
    // The files below the target, by path relative to it; a file anywhere
    // else below the root (the setup's file aside) fails the test.
    std::vector<std::string> target_files() const;
    // The captions of the messages shown, in order.
    std::vector<std::string> captions() const;
};
