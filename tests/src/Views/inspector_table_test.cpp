// The inspector table's order, selection, highlights and texts, without a
// window: over rows made by hand, and over a tag inspector whose refresh the
// test runs itself, reading from a recording fake.
#include "Views/InspectorTable.h"

#include "fake_reads.h"
#include "test_symbols.h"
#include "vemo/core/OwnedLists.h"
#include "vemo/core/PlcConnection.h"
#include "vemo/core/TagInspector.h"
#include "vemo/core/ThreadPool.h"

#include "Program.h"
#include "Server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// The row's last good value as decimal text; empty before the first.
std::string decText(const vemo::InspectorRow& row) {
    return vemo::formatValue(row.value, row.datatype, vemo::DisplayFormat::Dec).text;
}


using vemo::InspectorRow;
using vemo::InspectorTable;
using vemo::RowState;
using Sort = InspectorTable::Sort;
using Key = InspectorTable::SortKey;
using Names = std::vector<std::string>;

InspectorRow row(const std::string& name, std::uint8_t datatype) {
    InspectorRow r;
    r.name = name;
    r.datatype = datatype;
    r.typeName = s7_datatype_name(datatype);
    r.format = vemo::defaultFormat(datatype);
    return r;
}

// A live DINT row showing `value`.
InspectorRow dint(const std::string& name, std::int32_t value) {
    InspectorRow r = row(name, S7_DATATYPE_DINT);
    r.value = vemo::ReadValue{true, S7_TYPE_I32, 0, false, static_cast<std::uint32_t>(value), {}};
    r.state = RowState::Live;
    return r;
}

Names shown(const InspectorTable& table, const std::vector<InspectorRow>& rows) {
    Names names;
    for (const std::size_t i : table.order(rows)) names.push_back(rows[i].name);
    return names;
}

// Sets the time zone for one scope, as the operator's machine might have it.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> old_;
};

// 2026-12-10 12:34:56.045 UTC.
const auto kReadAt = std::chrono::system_clock::from_time_t(1796906096) + std::chrono::milliseconds(45);

TEST(InspectorTableOrder, SortsByNameAsPeopleReadThemOrByTypeEitherWay) {
    const std::vector<InspectorRow> rows = {
        row("DB1.Motor10", S7_DATATYPE_INT),     row("DB1.motor2", S7_DATATYPE_REAL),
        row("DB1.Motor1", S7_DATATYPE_INT),      row("DB1.Alarm", S7_DATATYPE_BOOL),
        row("DB1.Values[10]", S7_DATATYPE_REAL), row("DB1.Values[9]", S7_DATATYPE_INT),
    };
    const struct {
        Sort sort;
        Names expected;
    } cases[] = {
        {{Key::None, false},
         {"DB1.Motor10", "DB1.motor2", "DB1.Motor1", "DB1.Alarm", "DB1.Values[10]", "DB1.Values[9]"}},
        {{Key::Name, false},
         {"DB1.Alarm", "DB1.Motor1", "DB1.motor2", "DB1.Motor10", "DB1.Values[9]", "DB1.Values[10]"}},
        {{Key::Name, true},
         {"DB1.Values[10]", "DB1.Values[9]", "DB1.Motor10", "DB1.motor2", "DB1.Motor1", "DB1.Alarm"}},
        // Rows of one type keep the order they were added in, either way.
        {{Key::Type, false},
         {"DB1.Alarm", "DB1.Motor10", "DB1.Motor1", "DB1.Values[9]", "DB1.motor2", "DB1.Values[10]"}},
        {{Key::Type, true},
         {"DB1.motor2", "DB1.Values[10]", "DB1.Motor10", "DB1.Motor1", "DB1.Values[9]", "DB1.Alarm"}},
    };
    InspectorTable table;
    for (const auto& c : cases) {
        table.setSort(c.sort);
        EXPECT_EQ(shown(table, rows), c.expected) << static_cast<int>(c.sort.key) << " " << c.sort.descending;
    }
}

// A large table is sorted a slice per frame, shown in the order added
// until then, and ends in the order of the sort - rows alike in the order
// added - also when the rows change while it sorts.
TEST(InspectorTableOrder, ALargeTableIsSortedASlicePerFrameIntoTheOrderOfTheSort) {
    const std::uint8_t types[] = {S7_DATATYPE_INT, S7_DATATYPE_REAL, S7_DATATYPE_BOOL, S7_DATATYPE_DINT};
    std::vector<InspectorRow> rows;
    for (int i = 0; i < 3000; ++i) {
        // Numbers out of order (3001 is prime), letters in either case.
        rows.push_back(row("DB" + std::to_string(i % 7) + (i % 2 != 0 ? ".Motor" : ".motor") +
                               std::to_string((i * 7919) % 3001),
                           types[i % 4]));
    }
    const auto shownNow = [&](const InspectorTable& table, const std::vector<InspectorRow>& all) {
        std::vector<std::size_t> shown;
        for (std::size_t i = 0; i < all.size(); ++i) shown.push_back(table.rowAt(i));
        return shown;
    };
    InspectorTable table;
    std::uint64_t generation = 1;
    for (const Sort sort : {Sort{Key::Name, false}, Sort{Key::Name, true}, Sort{Key::Type, false},
                            Sort{Key::Type, true}}) {
        SCOPED_TRACE(static_cast<int>(sort.key) * 2 + (sort.descending ? 1 : 0));
        table.setSort(sort);
        table.sync(rows, generation, std::chrono::nanoseconds(0));
        ASSERT_TRUE(table.sorting()) << "a slice is not the whole";
        EXPECT_EQ(table.rowAt(5), 5u) << "shown as added meanwhile";
        int frames = 1;
        while (table.sorting() && frames < 1000) {
            table.sync(rows, generation, std::chrono::nanoseconds(0));
            ++frames;
        }
        EXPECT_GT(frames, 10);
        EXPECT_EQ(shownNow(table, rows), table.order(rows));
    }

    // Rows added and removed halfway: the sort starts over with them.
    table.setSort({Key::Name, false});
    table.sync(rows, generation, std::chrono::nanoseconds(0));
    rows.erase(rows.begin() + 10);
    rows.push_back(row("DB0.motor0", S7_DATATYPE_INT));
    ++generation;
    while (table.sync(rows, generation, std::chrono::nanoseconds(0)), table.sorting()) {
    }
    EXPECT_EQ(shownNow(table, rows), table.order(rows));
    EXPECT_EQ(rows[table.rowAt(0)].name, "DB0.motor0");
}

// The rows' order belongs to the view: the inspector's refresh, which
// applies its results by row index, puts each value into its own row
// however the table shows them, also for a row added while sorted.
class InspectorTableRefresh : public ::testing::Test {
protected:
    void SetUp() override {
        vemo::test::FakeReads::reset();
        vemo::sim::ServerOptions options;
        options.port = 0;
        sim_ = std::make_unique<vemo::sim::Server>(vemo::sim::Program::builtIn(), options);
        ASSERT_EQ(service_.connect("127.0.0.1", sim_->port()), S7_OK);
        vemo::TagInspector::Hooks hooks;
        hooks.submit = [this](std::function<void()> task) { tasks_.push_back(std::move(task)); };
        hooks.post = [this](std::function<void()> fn) { posted_.push_back(std::move(fn)); };
        hooks.now = [this] { return now_; };
        hooks.calls = vemo::ReadCalls{&vemo::test::FakeReads::maxReadItems, &vemo::test::FakeReads::read};
        inspector_ = std::make_unique<vemo::TagInspector>(service_, pool_, std::move(hooks));
    }

    void refresh() {
        now_ += vemo::TagInspector::kRefreshIntervalNs;
        inspector_->update();
        ++vemo::test::FakeReads::refreshNumber;
        for (auto& task : std::exchange(tasks_, {})) task();
        for (auto& fn : std::exchange(posted_, {})) fn();
    }

    std::unique_ptr<vemo::sim::Server> sim_;
    vemo::PlcConnection service_;
    vemo::ThreadPool pool_;  // never started: the test runs the tasks itself
    std::vector<std::function<void()>> tasks_;
    std::vector<std::function<void()>> posted_;
    std::int64_t now_ = 0;
    std::unique_ptr<vemo::TagInspector> inspector_;
};

TEST_F(InspectorTableRefresh, EveryValueStaysWithItsRowWhateverTheOrder) {
    // Symbol i has object id i + 1; the fake reads object id * 100 + the
    // refresh's number for it.
    const vemo::test::OwnedSymbols tags({{"DB1.b", S7_DATATYPE_DINT},
                                         {"DB1.d", S7_DATATYPE_DINT},
                                         {"DB1.a", S7_DATATYPE_DINT},
                                         {"DB1.c", S7_DATATYPE_DINT}});
    const auto expectValues = [&](int refreshNumber) {
        for (const InspectorRow& r : inspector_->rows()) {
            EXPECT_EQ(decText(r), std::to_string(r.objectId * 100 + refreshNumber)) << r.name;
        }
    };
    InspectorTable table;
    table.setSort({Key::Name, true});
    for (const std::size_t i : {0u, 1u, 2u}) inspector_->add(tags.at(i));
    refresh();
    EXPECT_EQ(shown(table, inspector_->rows()), (Names{"DB1.d", "DB1.b", "DB1.a"}));
    expectValues(1);

    inspector_->add(tags.at(3));
    EXPECT_EQ(shown(table, inspector_->rows()), (Names{"DB1.d", "DB1.c", "DB1.b", "DB1.a"})) << "in its place at once";
    refresh();
    EXPECT_EQ(shown(table, inspector_->rows()), (Names{"DB1.d", "DB1.c", "DB1.b", "DB1.a"}));
    expectValues(2);
}

TEST(InspectorTableSelection, ClicksWithCtrlAndShiftSelectAsInAFileManager) {
    // Shown sorted by name, so that ranges follow what is shown, not the
    // order the rows were added in.
    const std::vector<InspectorRow> rows = {row("E", 1), row("C", 1), row("A", 1), row("D", 1), row("B", 1)};
    InspectorTable table;
    table.setSort({Key::Name, false});
    const struct {
        const char* name;
        bool ctrl;
        bool shift;
        Names selected;
    } steps[] = {
        {"C", false, false, {"C"}},
        {"A", true, false, {"A", "C"}},
        {"E", false, true, {"A", "B", "C", "D", "E"}},  // from A, the last row clicked without Shift
        {"C", true, false, {"A", "B", "D", "E"}},       // Ctrl takes C out, and C is where ranges start now
        {"A", true, true, {"A", "B", "C", "D", "E"}},   // Ctrl+Shift adds the range C to A
        {"D", false, true, {"C", "D"}},                 // Shift alone: just the range C to D
        {"B", false, false, {"B"}},
        {"B", false, true, {"B"}},
    };
    for (const auto& step : steps) {
        table.click(rows, step.name, step.ctrl, step.shift);
        EXPECT_EQ(table.selected(rows), step.selected)
            << step.name << (step.ctrl ? " Ctrl" : "") << (step.shift ? " Shift" : "");
    }

    table.selectAll(rows);
    EXPECT_EQ(table.selected(rows), (Names{"A", "B", "C", "D", "E"}));
    table.clearSelection();
    EXPECT_TRUE(table.selected(rows).empty());

    // Rows that go take their selection with them, and a range can no
    // longer start at one that went: Shift+click selects the row alone.
    table.click(rows, "B", false, false);
    table.click(rows, "D", true, false);
    const std::vector<InspectorRow> fewer = {row("E", 1), row("C", 1), row("A", 1), row("B", 1)};
    table.sync(rows, 1);
    EXPECT_EQ(table.selected(rows), (Names{"B", "D"}));
    table.sync(fewer, 2);
    EXPECT_EQ(table.selected(fewer), (Names{"B"}));
    EXPECT_EQ(table.selectedCount(), 1u);
    table.click(fewer, "A", false, true);
    EXPECT_EQ(table.selected(fewer), (Names{"A"}));
}

// The highlight fades in a few steps, each a frame of its own: the window
// is woken for the next step, not drawn every frame. Values are watched in
// the rows drawn, as a frame draws them.
TEST(InspectorTableHighlight, AChangedValueGlowsAndHasFadedAfterItsTimeInSteps) {
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    InspectorTable table([&] { return now; });
    std::vector<InspectorRow> rows = {row("DB1.a", S7_DATATYPE_DINT), dint("DB1.b", 7)};
    std::uint64_t generation = 1;
    const auto frame = [&](std::size_t drawn) {
        table.sync(rows, generation);
        for (std::size_t i = 0; i < drawn && i < rows.size(); ++i) table.highlight(rows[i]);
    };
    frame(2);
    rows[0] = dint("DB1.a", 1);  // its first value: nothing changed
    frame(2);
    EXPECT_FALSE(table.nextHighlightStep());
    EXPECT_EQ(table.highlight("DB1.a"), 0.0f);

    rows[1] = dint("DB1.b", 8);
    rows[0].format = vemo::DisplayFormat::Hex;  // shown otherwise, but the same value
    frame(2);
    const auto changed = now;
    const auto step = InspectorTable::kFade / InspectorTable::kFadeSteps;
    EXPECT_EQ(table.nextHighlightStep(), changed + step);
    EXPECT_EQ(table.highlight("DB1.b"), 1.0f);
    EXPECT_EQ(table.highlight("DB1.a"), 0.0f);

    now += step - std::chrono::milliseconds(1);
    EXPECT_EQ(table.highlight("DB1.b"), 1.0f) << "no change between steps";
    // Each step down by an equal part, at its time.
    for (int k = 1; k < InspectorTable::kFadeSteps; ++k) {
        now = changed + k * step;
        frame(2);
        EXPECT_EQ(table.nextHighlightStep(), changed + (k + 1) * step);
        EXPECT_FLOAT_EQ(table.highlight("DB1.b"), 1.0f - static_cast<float>(k) / InspectorTable::kFadeSteps);
    }

    now = changed + InspectorTable::kFade;
    EXPECT_FALSE(table.nextHighlightStep()) << "faded: nothing more to draw";
    EXPECT_EQ(table.highlight("DB1.b"), 0.0f);
    frame(2);
    EXPECT_FALSE(table.nextHighlightStep());

    // A row removed while it glows ends its highlight with it.
    rows[1] = dint("DB1.b", 9);
    frame(2);
    ASSERT_TRUE(table.nextHighlightStep());
    rows.pop_back();
    ++generation;
    frame(1);
    frame(1);
    EXPECT_FALSE(table.nextHighlightStep());

    // A row out of view is not watched: back in view after its value
    // changed, it starts without a highlight, and glows at its next change.
    rows.push_back(dint("DB1.b", 9));
    ++generation;
    frame(2);
    frame(1);
    frame(1);
    rows[1] = dint("DB1.b", 10);
    frame(2);
    EXPECT_EQ(table.highlight("DB1.b"), 0.0f) << "scrolled back into view";
    rows[1] = dint("DB1.b", 11);
    frame(2);
    EXPECT_EQ(table.highlight("DB1.b"), 1.0f);
}

// Rows of every kind: live, a text with a tab, a quote, a comma and a line
// break, refused after a good value, never read.
std::vector<InspectorRow> textRows() {
    InspectorRow text = row("DB1.\"Label, left\"", S7_DATATYPE_WSTRING);
    const std::string label = "a\t\"b\"\nc";
    const vemo::OwnedValue value(s7_value_new_string(label.data(), label.size()));
    text.value = vemo::ReadValue::of(value.get());
    text.state = RowState::Stale;
    text.lastGood = kReadAt;
    InspectorRow count = dint("DB1.Count", -5);
    count.format = vemo::DisplayFormat::Hex;
    count.lastGood = kReadAt + std::chrono::milliseconds(1000);
    InspectorRow refused = dint("DB1.Gone", 42);
    refused.state = RowState::Refused;
    refused.refusal = 0x8104;
    refused.lastGood = kReadAt;
    return {count, text, refused, row("DB1.New", S7_DATATYPE_REAL)};
}

TEST(InspectorTableText, CopiesTheSelectedRowsAsShownForASpreadsheet) {
    const std::vector<InspectorRow> rows = textRows();
    InspectorTable table;
    EXPECT_EQ(table.copyText(rows, false), "") << "nothing selected, nothing copied";
    table.setSort({Key::Name, true});
    table.click(rows, "DB1.Count", false, false);
    table.click(rows, "DB1.\"Label, left\"", true, false);
    table.click(rows, "DB1.Gone", true, false);
    EXPECT_EQ(table.copyText(rows, false),
              "DB1.Gone\tDINT\tDEC\trefused (16#8104)\n"
              "DB1.Count\tDINT\tHEX\t16#FFFFFFFB\n"
              "\"DB1.\"\"Label, left\"\"\"\tWSTRING\tIEC\t\"a\t\"\"b\"\"\nc\"\n");
    table.clearSelection();
    table.click(rows, "DB1.New", false, false);
    EXPECT_EQ(table.copyText(rows, true), "Name\tType\tFormat\tValue\nDB1.New\tREAL\tDEC\t\n");
}

TEST(InspectorTableText, ExportsEveryRowAsCsvWithTheTimeOfItsValue) {
    const TimeZone india("<+0530>-5:30");
    const std::vector<InspectorRow> rows = textRows();
    InspectorTable table;
    table.click(rows, "DB1.Count", false, false);  // a selection changes nothing: every row goes out
    EXPECT_EQ(table.csvText(rows),
              "name,datatype,format,value,status,read_at\r\n"
              "DB1.Count,DINT,HEX,16#FFFFFFFB,live,2026-12-10T18:04:57.045+05:30\r\n"
              "\"DB1.\"\"Label, left\"\"\",WSTRING,IEC,\"a\t\"\"b\"\"\nc\",stale,2026-12-10T18:04:56.045+05:30\r\n"
              "DB1.Gone,DINT,DEC,42,refused (16#8104),2026-12-10T18:04:56.045+05:30\r\n"
              "DB1.New,REAL,DEC,,waiting,\r\n");
}

TEST(InspectorTableText, TimesAreLocalWithTheirOffsetFromUtc) {
    const struct {
        const char* zone;
        const char* iso;
        const char* file;
    } cases[] = {
        {"UTC0", "2026-12-10T12:34:56.045+00:00", "~/vemo-watch-20261210-123456.csv"},
        {"<+0530>-5:30", "2026-12-10T18:04:56.045+05:30", "~/vemo-watch-20261210-180456.csv"},
        {"<-03>3", "2026-12-10T09:34:56.045-03:00", "~/vemo-watch-20261210-093456.csv"},
        {"<+14>-14", "2026-12-11T02:34:56.045+14:00", "~/vemo-watch-20261211-023456.csv"},
    };
    for (const auto& c : cases) {
        const TimeZone zone(c.zone);
        EXPECT_EQ(vemo::localIsoTime(kReadAt), c.iso) << c.zone;
        EXPECT_EQ(vemo::defaultExportName(kReadAt), c.file) << c.zone;
    }
    const TimeZone utc("UTC0");
    EXPECT_EQ(vemo::localIsoTime(std::chrono::system_clock::from_time_t(1796906096)), "2026-12-10T12:34:56.000+00:00");
}

TEST(InspectorTableText, AnExportGoesToTheFileTypedWithTheHomeFolderForTildeAndRelativeNames) {
    const char* old = std::getenv("HOME");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("HOME", "/home/op", 1);
    const struct {
        const char* typed;
        const char* path;
    } cases[] = {
        {"~/watch.csv", "/home/op/watch.csv"},
        {"~", "/home/op"},
        {"watch.csv", "/home/op/watch.csv"},
        {"logs/a.csv", "/home/op/logs/a.csv"},
        {"/tmp/a.csv", "/tmp/a.csv"},
        {"  ~/pasted.csv \t", "/home/op/pasted.csv"},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(vemo::exportPath(c.typed).string(), c.path) << '"' << c.typed << '"';
    if (old != nullptr) {
        ::setenv("HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

}  // namespace
