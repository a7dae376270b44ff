// The real PellithPanel.mq5, translated, against the simulated MT5 trade server: what the server
// received and what the trader was told, grouped by behaviour.

#include <gtest/gtest.h>

#include "mql5/tests/ExpertKit5.h"

namespace {

constexpr int Buy = 1;

TEST(Expert5Chart, ClickBuysOnce) {
    TExpertKit5 kit;
    auto& expert = kit.Attach("EURUSD");
    kit.Click(expert, Buy);
    EXPECT_EQ(kit.Deals().size(), 1u) << kit.AlertsText();
}

} // namespace
