// What the inspector's value column shows for each state of a row, without a
// window: a row without a live value is dimmed and says why, and an answer
// of the wrong type is never shown as the value.
#include "Views/InspectorView.h"

#include "vemo/core/TagInspector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace {

using vemo::InspectorRow;
using vemo::RowState;

TEST(InspectorCell, EachStateShowsItsTextAndExplainsWhatIsNotLive) {
    const auto readAt = std::chrono::system_clock::now();
    const vemo::TypeMismatch boolsForDint{"BOOL array", S7_DATATYPE_DINT};
    struct Row {
        const char* what;
        RowState state;
        bool hadValue;  // "42", read at readAt
        const char* text;
        const char* tooltipStart;  // "" for no tooltip
    };
    const Row rows[] = {
        {"waiting", RowState::Waiting, false, "", ""},
        {"live", RowState::Live, true, "42", ""},
        {"stale", RowState::Stale, true, "42", "Not refreshed: the connection is lost or the last read failed. "},
        {"refused", RowState::Refused, true, "refused (16#8104)",
         "The controller refused to read this variable, error code 16#8104. "},
        {"mismatch before any value", RowState::Mismatch, false, "type mismatch",
         "The controller sent a value of type BOOL array for this DINT variable; it is not shown as a value. "},
        {"mismatch after a good value", RowState::Mismatch, true, "type mismatch",
         "The controller sent a value of type BOOL array for this DINT variable; it is not shown as a value. "},
        {"missing", RowState::Missing, true, "not in the controller",
         "The controller's program has no variable of this name any more. "},
        {"in a block that could not be read", RowState::Unreadable, false, "block could not be read",
         "The block of this variable could not be read from the controller: its description is larger than this "
         "program reads. It is looked for again at the next connect. "},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        InspectorRow row;
        row.name = "DB1.Count";
        row.typeName = "DINT";
        row.datatype = S7_DATATYPE_DINT;
        row.state = r.state;
        if (r.hadValue) {
            row.value = vemo::ReadValue{true, S7_TYPE_I32, 0, false, 42, {}};
            row.lastGood = readAt;
        }
        if (r.state == RowState::Refused) row.refusal = 0x8104;
        if (r.state == RowState::Mismatch) row.mismatch = boolsForDint;
        if (r.state == RowState::Unreadable) row.browseFailure = S7_ERR_NO_MEMORY;

        const vemo::ValueCell cell = vemo::valueCellFor(row);
        EXPECT_EQ(cell.text, r.text);
        const std::string start = r.tooltipStart;
        EXPECT_EQ(cell.dimmed, !start.empty());
        if (start.empty()) {
            EXPECT_EQ(cell.tooltip, "");
            continue;
        }
        ASSERT_TRUE(cell.tooltip.starts_with(start)) << cell.tooltip;
        const std::string since = cell.tooltip.substr(start.size());
        if (r.hadValue) {
            EXPECT_TRUE(since.starts_with("Last good value read at ")) << since;
        } else {
            EXPECT_EQ(since, "No value read yet.");
        }
    }
}

// The value column shows the kept value in the row's format, live or
// dimmed: switching the format reads nothing anew.
TEST(InspectorCell, ShowsTheKeptValueInTheRowsFormat) {
    using vemo::DisplayFormat;
    const struct {
        std::uint8_t datatype;
        vemo::ReadValue value;
        DisplayFormat format;
        RowState state;
        const char* text;
    } rows[] = {
        {S7_DATATYPE_DINT, {true, S7_TYPE_I32, 0, false, 0xFFFFFFFF, {}}, DisplayFormat::Dec, RowState::Live, "-1"},
        {S7_DATATYPE_DINT,
         {true, S7_TYPE_I32, 0, false, 0xFFFFFFFF, {}},
         DisplayFormat::Hex,
         RowState::Live,
         "16#FFFFFFFF"},
        {S7_DATATYPE_TIME, {true, S7_TYPE_I32, 0, false, 1500, {}}, DisplayFormat::Iec, RowState::Stale, "T#1S_500MS"},
        {S7_DATATYPE_TIME, {true, S7_TYPE_I32, 0, false, 1500, {}}, DisplayFormat::Dec, RowState::Live, "1500"},
        {S7_DATATYPE_DATE,
         {true, S7_TYPE_U16, 0, false, 13492, {}},
         DisplayFormat::Iec,
         RowState::Live,
         "D#2026-12-10"},
    };
    for (const auto& r : rows) {
        InspectorRow row;
        row.datatype = r.datatype;
        row.typeName = s7_datatype_name(r.datatype);
        row.value = r.value;
        row.format = r.format;
        row.state = r.state;
        EXPECT_EQ(vemo::valueCellFor(row).text, r.text);
    }
}

}  // namespace
