// Display names of the data-type identifiers: all 256 identifiers against
// the named list, exact lengths, NUL-terminated texts.
#include "DataTypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace {

const std::map<unsigned, std::string> kNames = {
    {0, "VOID"}, {1, "BOOL"}, {2, "BYTE"}, {3, "CHAR"}, {4, "WORD"}, {5, "INT"}, {6, "DWORD"}, {7, "DINT"},
    {8, "REAL"}, {9, "DATE"}, {10, "TIME_OF_DAY"}, {11, "TIME"}, {12, "S5TIME"}, {13, "S5COUNT"},
    {14, "DATE_AND_TIME"}, {15, "INTERNET_TIME"}, {16, "ARRAY"}, {17, "STRUCT"}, {18, "END_STRUCT"},
    {19, "STRING"}, {20, "POINTER"}, {21, "MULTI_FB"}, {22, "ANY"}, {23, "BLOCK_FB"}, {24, "BLOCK_FC"},
    {25, "BLOCK_DB"}, {26, "BLOCK_SDB"}, {27, "MULTI_SFB"}, {28, "COUNTER"}, {29, "TIMER"},
    {30, "IEC_COUNTER"}, {31, "IEC_TIMER"}, {32, "BLOCK_SFB"}, {33, "BLOCK_SFC"}, {34, "BLOCK_CB"},
    {35, "BLOCK_SCB"}, {36, "BLOCK_OB"}, {37, "BLOCK_UDT"}, {38, "OFFSET"}, {39, "BLOCK_SDT"}, {40, "BBOOL"},
    {41, "BLOCK_EXT"}, {48, "LREAL"}, {49, "ULINT"}, {50, "LINT"}, {51, "LWORD"}, {52, "USINT"}, {53, "UINT"},
    {54, "UDINT"}, {55, "SINT"}, {56, "BCD8"}, {57, "BCD16"}, {58, "BCD32"}, {59, "BCD64"}, {60, "AREF"},
    {61, "WCHAR"}, {62, "WSTRING"}, {63, "VARIANT"}, {64, "LTIME"}, {65, "LTOD"}, {66, "LDT"}, {67, "DTL"},
    {68, "IEC_LTIMER"}, {69, "IEC_SCOUNTER"}, {70, "IEC_DCOUNTER"}, {71, "IEC_LCOUNTER"},
    {72, "IEC_UCOUNTER"}, {73, "IEC_USCOUNTER"}, {74, "IEC_UDCOUNTER"}, {75, "IEC_ULCOUNTER"},
    {96, "REMOTE"}, {97, "ERROR_STRUCT"}, {98, "NREF"}, {99, "VREF"}, {100, "FBT_REF"}, {101, "CREF"},
    {102, "VA_REF"}, {128, "AOM_IDENT"}, {129, "EVENT_ANY"}, {130, "EVENT_ATT"}, {131, "EVENT_HW_INT"},
    {132, "FOLDER"}, {133, "AOM_AID"}, {134, "AOM_LINK"}, {144, "HW_ANY"}, {145, "HW_IO_SYSTEM"},
    {146, "HW_DP_MASTER"}, {147, "HW_DEVICE"}, {148, "HW_DP_SLAVE"}, {149, "HW_IO"}, {150, "HW_MODULE"},
    {151, "HW_SUB_MODULE"}, {152, "HW_HSC"}, {153, "HW_PWM"}, {154, "HW_PTO"}, {155, "HW_INTERFACE"},
    {156, "HW_IE_PORT"}, {160, "OB_ANY"}, {161, "OB_DELAY"}, {162, "OB_TOD"}, {163, "OB_CYCLIC"},
    {164, "OB_ATT"}, {168, "CONN_ANY"}, {169, "CONN_PRG"}, {170, "CONN_OUC"}, {171, "CONN_RID"},
    {172, "HW_NR"}, {173, "PORT"}, {174, "RTM"}, {175, "PIP"}, {176, "C_ALARM"}, {177, "C_ALARMS"},
    {178, "C_ALARM8"}, {179, "C_ALARM8P"}, {180, "C_ALARM_T"}, {181, "CAR_SEND"}, {182, "C_NOTIFY"},
    {183, "C_NOTIFY8P"}, {192, "OB_P_CYCLE"}, {193, "OB_HW_INT"}, {194, "OB_COMM"}, {195, "OB_DIAG"},
    {196, "OB_TIME_ERROR"}, {197, "OB_STARTUP"}, {200, "OPC_UA_LOC_TXT_ENC_M"}, {201, "OPC_UA_STR_ACT_LEN"},
    {208, "DB_ANY"}, {209, "DB_WWW"}, {210, "DB_DYN"}, {253, "PARA"}, {254, "LABEL"}, {255, "U_DEFINED"},
};

TEST(DatatypeName, EveryIdentifierHasItsNameOrUnknown) {
    ASSERT_EQ(kNames.size(), 132u);
    unsigned named = 0;
    for (unsigned id = 0; id < 256; ++id) {
        const std::string_view name = vemo::datatypeName(id);
        const auto it = kNames.find(id);
        const std::string expected = it != kNames.end() ? it->second : "UNKNOWN";
        EXPECT_EQ(name, expected) << id;
        // Exact length, and the text ends right there for printf-style use.
        EXPECT_EQ(std::strlen(name.data()), name.size()) << id;
        named += name != "UNKNOWN" ? 1 : 0;
    }
    EXPECT_EQ(named, 132u);
}

TEST(DatatypeName, WorkedExamplesAndWideIdentifiers) {
    EXPECT_EQ(vemo::datatypeName(0).size(), 4u);
    EXPECT_EQ(vemo::datatypeName(10).size(), 11u);
    EXPECT_EQ(vemo::datatypeName(42), "UNKNOWN");
    EXPECT_EQ(vemo::datatypeName(252).size(), 7u);
    EXPECT_EQ(vemo::datatypeName(200).size(), 20u);
    EXPECT_EQ(vemo::datatypeName(0x105), "INT"); // only the low 8 bits count
    static_assert(vemo::datatypeName(5) == "INT", "usable at compile time");
}

} // namespace
