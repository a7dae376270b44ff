// Runs DemoTerminal.exe once for a short scripted session of the real expert against the real
// Pellith.dll and the simulated trade server (the MT4 terminal in the i686 build, the MT5 one with
// a hedging and a netting account in the x64 build), then checks what a person would: the program
// ends well and says where its files are, every chart exchanged with its panel, the scripted input
// became the orders it should, the trader was told why two clicks gave no order, and the
// screenshot shows each chart with its panel at the top left.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "terminal/ChartHost.h"
#include "terminal/PellithLibrary.h"
#include "terminal/Png.h"
#include "terminal/tests/TestMain.h"

namespace {

using namespace std::chrono_literals;

// One line of demo.log: "<seconds> <source> <event> key=value ...".
struct TLogLine {
    double Time = 0;
    std::string Source;
    std::string Event;
    std::map<std::string, std::string> Fields;
    std::string Text;

    bool Has(const std::string& AKey, const std::string& AValue) const {
        const auto it = Fields.find(AKey);
        return it != Fields.end() && it->second == AValue;
    }
    std::string operator[](const std::string& AKey) const {
        const auto it = Fields.find(AKey);
        return it == Fields.end() ? "" : it->second;
    }
};

TLogLine ParseLine(const std::string& AText) {
    TLogLine line;
    line.Text = AText;
    std::istringstream words(AText);
    std::string time;
    words >> time >> line.Source >> line.Event;
    line.Time = std::stod(time);
    for (std::string word; words >> word;) {
        const auto equals = word.find('=');
        if (equals != std::string::npos)
            line.Fields[word.substr(0, equals)] = word.substr(equals + 1);
        else if (line.Event == "order" && line.Fields.count("ticket"))
            line.Fields["action"] = word; // "order ticket=N open|trail|close ..."
    }
    return line;
}

std::string ReadFile(const std::wstring& APath) {
    std::ifstream file{std::filesystem::path(APath), std::ios::binary};
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class DemoSession : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::wstring demo = TestOption("demo");
        const std::wstring dll = TestOption("dll");
        Out = TestOption("out");
        const std::wstring seconds = TestOption("seconds");
        ASSERT_FALSE(demo.empty() || dll.empty() || Out.empty() || seconds.empty())
            << "run with --demo=, --dll=, --out= and --seconds=";
        std::filesystem::remove_all(Out);
        std::filesystem::create_directories(Out);
        const std::wstring stdoutPath = Out + L"\\stdout.txt";

        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        TKernelHandle output(CreateFileW(stdoutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                         &inherit, CREATE_ALWAYS, 0, nullptr));
        ASSERT_NE(output.Get(), INVALID_HANDLE_VALUE);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::wstring command = L"\"" + demo + L"\" --seconds=" + seconds + L" \"--dll=" + dll +
                               L"\" \"--out=" + Out + L"\"";
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &process))
            << SystemErrorText(GetLastError());
        TKernelHandle processHandle(process.hProcess);
        TKernelHandle threadHandle(process.hThread);
        // A hang watchdog, far beyond the session's own length.
        if (WaitForSingleObject(process.hProcess, 300000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 10000);
            Hung = true;
        }
        GetExitCodeProcess(process.hProcess, &ExitCode);
        output.Reset();

        Stdout = ReadFile(stdoutPath);
        std::istringstream log(ReadFile(Out + L"\\demo.log"));
        for (std::string text; std::getline(log, text);)
            if (!text.empty())
                Log.push_back(ParseLine(text));
        std::string error;
        ShotRead = ReadPngFile(Out + L"\\demo.png", Shot, error);
        ShotError = error;
    }

    static std::vector<TLogLine> Lines(const std::string& ASource, const std::string& AEvent) {
        std::vector<TLogLine> found;
        for (const TLogLine& line : Log)
            if ((ASource.empty() || line.Source == ASource) && line.Event == AEvent)
                found.push_back(line);
        return found;
    }

    static inline std::wstring Out;
    static inline bool Hung = false;
    static inline DWORD ExitCode = 0;
    static inline std::string Stdout;
    static inline std::vector<TLogLine> Log;
    static inline TPixels Shot;
    static inline bool ShotRead = false;
    static inline std::string ShotError;
};

const char* const Symbols[] = {"EURUSD", "USDJPY", "XAUUSD"};

// MT5 is 64-bit and MT4 32-bit: each build's demo is the terminal that loads it.
#ifdef _WIN64
const std::string Terminal = "MT5";
#else
const std::string Terminal = "MT4";
#endif

TEST_F(DemoSession, EndsWellAndSaysWhereItsFilesAreWithAOneLineSummary) {
    ASSERT_FALSE(Hung) << "the demo did not end";
    EXPECT_EQ(ExitCode, 0u) << Stdout;
    EXPECT_NE(Stdout.find("log:        "), std::string::npos) << Stdout;
    EXPECT_NE(Stdout.find("demo.log"), std::string::npos) << Stdout;
    EXPECT_NE(Stdout.find("screenshot: "), std::string::npos) << Stdout;
    EXPECT_NE(Stdout.find("Pellith demo: " + Terminal + " terminal, 3 charts, "), std::string::npos)
        << Stdout;
    const auto summary = Lines("terminal", "summary");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0]["terminal"], Terminal);
    EXPECT_GT(std::stol(summary[0]["ticks"]), 30) << summary[0].Text;
    // An exchange on every tick, and more on the expert's timer.
    EXPECT_GE(std::stol(summary[0]["exchanges"]), std::stol(summary[0]["ticks"]))
        << summary[0].Text;
    EXPECT_EQ(summary[0]["clicks"], "9");
    EXPECT_EQ(summary[0]["orders"], "5");
    EXPECT_EQ(summary[0]["rejected"], "4");
    // The guards: one click above the cap, one in a news spike, EURUSD's two orders sized from
    // risk.
    EXPECT_EQ(summary[0]["capped"], "1");
    EXPECT_EQ(summary[0]["spread"], "1");
    EXPECT_EQ(summary[0]["risk_sized"], "2");
    EXPECT_NE(Stdout.find(" rejected: 1 above the fat-finger cap, 1 at a spread wider than "
                          "allowed), 2 sized from risk, "),
              std::string::npos)
        << Stdout;
}

TEST_F(DemoSession, RunsTheTerminalOfItsArchitectureLoggedInToItsAccounts) {
    const auto loaded = Lines("terminal", "loaded");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]["terminal"], Terminal);
    // MT5 charts say which account they trade on: one netting among the hedging ones. MT4 has
    // one kind of account.
    const std::map<std::string, std::pair<std::string, std::string>> accounts = {
        {"EURUSD", {"1", "hedging"}}, {"USDJPY", {"2", "netting"}}, {"XAUUSD", {"1", "hedging"}}};
    for (const char* symbol : Symbols) {
        SCOPED_TRACE(symbol);
        const auto account = Lines(symbol, "account");
        if (Terminal == "MT4") {
            EXPECT_TRUE(account.empty());
            continue;
        }
        ASSERT_EQ(account.size(), 1u);
        EXPECT_EQ(account[0]["login"], accounts.at(symbol).first);
        EXPECT_EQ(account[0]["mode"], accounts.at(symbol).second);
        // Its positions were opened on that account, not on the other one's server.
        for (const TLogLine& line : Lines(symbol, "order")) {
            if (line["action"] == "open") {
                EXPECT_EQ(line["account"], accounts.at(symbol).first) << line.Text;
            }
        }
    }
}

TEST_F(DemoSession, EveryChartCarriedItsOwnPanelFromCreateToDelete) {
    for (const char* symbol : Symbols) {
        SCOPED_TRACE(symbol);
        EXPECT_EQ(Lines(symbol, "create").size(), 1u);
        const auto panels = Lines(symbol, "panel");
        ASSERT_FALSE(panels.empty()) << "the panel never marked its chart";
        EXPECT_NE(panels[0]["XT_Container"], "0x0");
        EXPECT_EQ(panels[0]["XT_Attached"], panels[0]["module"])
            << "the chart's mark is the library's module handle";
        EXPECT_EQ(panels[0]["clipchildren"], "yes");
        const auto posts = Lines(symbol, "registered-message");
        ASSERT_EQ(posts.size(), 1u) << "the registered message comes once per panel";
        EXPECT_TRUE(posts[0].Has("wparam", "2"));
        EXPECT_TRUE(posts[0].Has("lparam", "1"));
        EXPECT_GE(Lines(symbol, "exchange").size(), 3u);
        EXPECT_EQ(Lines(symbol, "delete").size(), 1u);
        const auto after = Lines(symbol, "after-delete");
        ASSERT_EQ(after.size(), 1u);
        EXPECT_TRUE(after[0].Has("panel", "closed")) << after[0].Text;
        EXPECT_TRUE(after[0].Has("XT_Container", "removed")) << after[0].Text;
        EXPECT_TRUE(after[0].Has("XT_Attached", "removed")) << after[0].Text;
    }
    EXPECT_TRUE(Lines("", "unexpected").empty());
    EXPECT_TRUE(Lines("", "critical-error").empty());
    EXPECT_TRUE(Lines("user", "panel-missing").empty());
    EXPECT_TRUE(Lines("user", "click-not-taken").empty());
}

TEST_F(DemoSession, TheScriptedInputBecameTheOrdersItShould) {
    // Each click is reported once, by one exchange, on its own chart.
    const std::map<std::string, std::vector<std::string>> clicks = {
        {"EURUSD", {"1", "2", "1"}}, {"USDJPY", {"2", "2"}}, {"XAUUSD", {"1", "2", "1", "1"}}};
    for (const auto& [symbol, results] : clicks) {
        std::vector<std::string> reported;
        for (const TLogLine& line : Lines(symbol, "exchange"))
            if (line["result"] != "0")
                reported.push_back(line["result"]);
        EXPECT_EQ(reported, results) << symbol;
    }

    // What each order carries comes from the panel's fields as the script left them; EURUSD's
    // lots from 0.2 % risk of the equity at its 12-pip stop, capped by the 0.25 typed.
    struct TExpected {
        const char* Symbol;
        std::map<std::string, std::string> Fields;
    };
    const TExpected expected[] = {
        {"EURUSD", {{"side", "buy"}, {"lots", "0.16"}, {"sl_pips", "12"}, {"tp_pips", "15"}}},
        {"EURUSD", {{"side", "sell"}, {"lots", "0.16"}, {"sl_pips", "12"}}},
        {"USDJPY", {{"side", "sell"}, {"lots", "0.10"}, {"ts", "3"}, {"sl_pips", "10"}}},
        {"XAUUSD", {{"side", "buy"}, {"lots", "0.20"}}},
        {"XAUUSD", {{"side", "sell"}, {"lots", "0.20"}, {"tp_pips", "5"}}},
    };
    std::map<std::string, std::size_t> next;
    for (const TExpected& e : expected) {
        std::vector<TLogLine> opens;
        for (const TLogLine& line : Lines(e.Symbol, "order"))
            if (line["action"] == "open")
                opens.push_back(line);
        const std::size_t index = next[e.Symbol]++;
        ASSERT_LT(index, opens.size()) << e.Symbol << " order " << index << " is missing";
        for (const auto& [key, value] : e.Fields)
            EXPECT_EQ(opens[index][key], value) << opens[index].Text;
    }
}

TEST_F(DemoSession, TheTraderIsToldWhyAClickGaveNoOrder) {
    const auto alerts = [](const std::string& ASymbol) {
        std::vector<std::string> texts;
        for (const TLogLine& line : Lines(ASymbol, "alert"))
            texts.push_back(
                line.Text.substr(line.Text.find("text="),
                                 line.Text.find_last_not_of('\r') + 1 - line.Text.find("text=")));
        return texts;
    };
    const auto gold = alerts("XAUUSD");
    ASSERT_EQ(gold.size(), 2u);
    EXPECT_EQ(gold[0], "text=\"Pellith XAUUSD: buy 0.20 not sent: stop-loss closer than the "
                       "broker's minimum of 5.0 pips\"");
    // The news spike: the spread is told in pips, whatever it was to the point.
    EXPECT_EQ(gold[1].rfind("text=\"Pellith XAUUSD: buy not sent: the spread is ", 0), 0u)
        << gold[1];
    EXPECT_NE(gold[1].find(" pips, wider than the 5.0 pips allowed (InpMaxSpreadPips)"),
              std::string::npos)
        << gold[1];
    EXPECT_EQ(alerts("EURUSD"),
              (std::vector<std::string>{"text=\"Pellith EURUSD: buy 0.16 not sent: requote\""}));
    EXPECT_EQ(alerts("USDJPY"),
              (std::vector<std::string>{"text=\"Pellith USDJPY: sell not sent: lot size 10.00 is "
                                        "above the cap of 5.00 lots (InpMaxLots); type the lots "
                                        "again, or raise the cap\""}));
    int retries = 0;
    for (const TLogLine& line : Lines("EURUSD", "journal"))
        retries += line.Text.find("requote, trying again") != std::string::npos;
    EXPECT_GE(retries, 1) << "a requote is tried again before the trader is told";
}

// EURUSD trades with lots from risk and break-even: each order's journal line says what it
// risks at its stop, and a stop moved to break-even sits half a pip beyond its open price.
TEST_F(DemoSession, TheGuardsSayWhatTheyDid) {
    int risks = 0;
    for (const TLogLine& line : Lines("EURUSD", "journal"))
        risks += line.Text.find(" USD at risk at its stop-loss ") != std::string::npos;
    EXPECT_EQ(risks, 2) << "one line per order";
    long moved = 0;
    for (const TLogLine& line : Lines("EURUSD", "journal")) {
        if (line.Text.find(" at break-even: stop-loss ") == std::string::npos)
            continue;
        ++moved;
        EXPECT_NE(line.Text.find(", 0.5 pips beyond its open price "), std::string::npos)
            << line.Text;
    }
    EXPECT_EQ(std::to_string(moved), Lines("terminal", "summary")[0]["breakeven"]);
    EXPECT_EQ(Lines("broker", "spread-spike").size(), 1u);
    EXPECT_TRUE(Lines("broker", "spread-spike")[0].Has("quoted", "yes"));
}

// Pixels of the price area's fills: the sell field's red gradient (#F80101 down to #9F1716) and
// the buy field's green one (#329832 down to #016501), with a little room for rounding.
bool IsSellRed(TRgb c) {
    return RedOf(c) >= 0x9C && GreenOf(c) <= 0x1A && BlueOf(c) <= 0x1A;
}
bool IsBuyGreen(TRgb c) {
    return RedOf(c) <= 0x35 && GreenOf(c) >= 0x62 && GreenOf(c) <= 0x9B && BlueOf(c) <= 0x35 &&
           RedOf(c) == BlueOf(c);
}

constexpr TRgb AsRgb(COLORREF c) {
    return (TRgb{GetRValue(c)} << 16) | (TRgb{GetGValue(c)} << 8) | GetBValue(c);
}

struct TBox {
    int Left = 1 << 30, Top = 1 << 30, Right = -1, Bottom = -1;
    int Count = 0;
    void Add(int x, int y) {
        Left = std::min(Left, x);
        Top = std::min(Top, y);
        Right = std::max(Right, x);
        Bottom = std::max(Bottom, y);
        ++Count;
    }
};

TEST_F(DemoSession, TheScreenshotShowsEveryChartWithItsPanelAtTheTopLeft) {
    ASSERT_TRUE(ShotRead) << ShotError;
    const auto shots = Lines("terminal", "screenshot");
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(std::stoi(shots[0]["width"]), Shot.Width);
    EXPECT_EQ(std::stoi(shots[0]["height"]), Shot.Height);
    EXPECT_TRUE(shots[0].Has("covered", "no")) << "another window covered the charts";
    const auto charts = Lines("terminal", "chart");
    ASSERT_EQ(charts.size(), 3u);
    for (const TLogLine& chart : charts) {
        SCOPED_TRACE(chart.Text);
        const int x0 = std::stoi(chart["x"]);
        const int y0 = std::stoi(chart["y"]);
        const int width = std::stoi(chart["width"]);
        const int height = std::stoi(chart["height"]);
        ASSERT_LE(x0 + width, Shot.Width);
        ASSERT_LE(y0 + height, Shot.Height);
        // The panel's box: 206 x 157 at (10, 20) of the chart's client area.
        TBox red, green;
        for (int y = 20; y < 20 + 157; ++y)
            for (int x = 10; x < 10 + 206; ++x) {
                const TRgb c = Shot.At(x0 + x, y0 + y);
                if (IsSellRed(c))
                    red.Add(x, y);
                if (IsBuyGreen(c))
                    green.Add(x, y);
            }
        int priceLine = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                priceLine += Shot.At(x0 + x, y0 + y) == AsRgb(ChartPriceLine);
        // The panel stands at (10, 20); its price picture at (4, 88) inside it, 198 x 50, the
        // sell field's fill in its columns 0-93 and the buy field's in 103-196, rows 2-47. The
        // rows above the picture follow the font's metrics, so its top may move by a pixel or two.
        constexpr int Slack = 3;
        ASSERT_GT(red.Count, 1500) << "no sell field on this chart";
        ASSERT_GT(green.Count, 1500) << "no buy field on this chart";
        EXPECT_GE(red.Left, 10 + 4);
        EXPECT_LE(red.Right, 10 + 4 + 95);
        EXPECT_GE(red.Top, 20 + 88 - Slack);
        EXPECT_LE(red.Bottom, 20 + 88 + 49 + Slack);
        EXPECT_GE(green.Left, 10 + 4 + 101);
        EXPECT_LE(green.Right, 10 + 4 + 197);
        EXPECT_GE(green.Top, 20 + 88 - Slack);
        EXPECT_LE(green.Bottom, 20 + 88 + 49 + Slack);
        EXPECT_LT(red.Right, green.Left) << "sell on the left, buy on the right";
        EXPECT_GT(priceLine, 50) << "no price line on the chart";
        // The panel's margin, outside its bevel, is the button face colour.
        const TRgb face = (TRgb{GetRValue(GetSysColor(COLOR_BTNFACE))} << 16) |
                          (TRgb{GetGValue(GetSysColor(COLOR_BTNFACE))} << 8) |
                          GetBValue(GetSysColor(COLOR_BTNFACE));
        EXPECT_EQ(Shot.At(x0 + 10 + 1, y0 + 20 + 1), face);
        EXPECT_EQ(Shot.At(x0 + 10 + 103, y0 + 20 + 155), face);
    }
}

TEST_F(DemoSession, TheScreenshotShowsTheNewestOpenPositionOnItsChart) {
    ASSERT_TRUE(ShotRead) << ShotError;
    const auto shots = Lines("terminal", "screenshot");
    ASSERT_EQ(shots.size(), 1u);
    const double shotTime = shots[0].Time;
    int charted = 0;
    for (const TLogLine& chart : Lines("terminal", "chart")) {
        const std::string symbol = chart["symbol"];
        // Positions opened well before the screenshot and not closed before it, in order. The
        // newest one's line is drawn last, so no other line can hide it.
        std::vector<std::pair<std::string, std::string>> open; // ticket, side
        for (const TLogLine& line : Lines(symbol, "order")) {
            if (line["action"] == "open" && line.Time < shotTime - 0.5)
                open.emplace_back(line["ticket"], line["side"]);
            if (line["action"] == "close" && line.Time < shotTime + 0.5)
                std::erase_if(open, [&](const auto& p) { return p.first == line["ticket"]; });
        }
        if (open.empty())
            continue;
        ++charted;
        const auto& [ticket, side] = open.back();
        // The open price's line in the side's colour, right of the panel.
        const TRgb colour = side == "buy" ? 0x5096FF : 0xFFA028;
        const int x0 = std::stoi(chart["x"]);
        const int y0 = std::stoi(chart["y"]);
        int found = 0;
        for (int y = 0; y < std::stoi(chart["height"]); ++y)
            for (int x = 230; x < std::stoi(chart["width"]); ++x)
                found += Shot.At(x0 + x, y0 + y) == colour;
        EXPECT_GT(found, 20) << symbol << " #" << ticket << " " << side << " is not drawn";
    }
    EXPECT_GT(charted, 0) << "no position was open at the screenshot";
}

} // namespace
