// The data-type vocabulary: every identifier's name, which ones the browse
// lists (exactly 74, checked one by one), and only the low 8 bits of a wider
// value count.
#include <vemo/s7datatype.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace {

// clang-format off
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
// clang-format on

const std::set<unsigned> kBrowsable = {
    1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  14,  19,  20,  22,  23,  24,  28,
    29,  40,  48,  49,  50,  51,  52,  53,  54,  55,  61,  62,  64,  65,  66,  67,  96,  128, 129,
    130, 132, 134, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 160, 161, 162,
    163, 164, 168, 169, 170, 171, 173, 174, 175, 192, 193, 195, 196, 197, 208, 209, 210,
};

TEST(DatatypeBrowsable, ExactlyTheListedIdentifiers) {
    ASSERT_EQ(kBrowsable.size(), 74u);
    unsigned count = 0;
    for (unsigned id = 0; id < 256; ++id) {
        EXPECT_EQ(s7_datatype_is_browsable(id), kBrowsable.count(id) == 1) << id;
        count += s7_datatype_is_browsable(id) ? 1 : 0;
    }
    EXPECT_EQ(count, 74u);
}

TEST(DatatypeBrowsable, OnlyTheLowByteCounts) {
    EXPECT_FALSE(s7_datatype_is_browsable(0x100));        // 0 VOID
    EXPECT_TRUE(s7_datatype_is_browsable(0x113));         // 19 STRING
    EXPECT_TRUE(s7_datatype_is_browsable(0xFFFFFFD2u));   // 210 DB_DYN
    EXPECT_FALSE(s7_datatype_is_browsable(0xFFFFFF3Fu));  // 63 VARIANT
}

TEST(DatatypeName, EveryIdentifierHasItsNameOrUnknown) {
    ASSERT_EQ(kNames.size(), 132u);
    unsigned named = 0;
    for (unsigned id = 0; id < 256; ++id) {
        const std::string_view name = s7_datatype_name(id);
        const auto it = kNames.find(id);
        const std::string expected = it != kNames.end() ? it->second : "UNKNOWN";
        EXPECT_EQ(name, expected) << id;
        named += name != "UNKNOWN" ? 1 : 0;
    }
    EXPECT_EQ(named, 132u);
}

TEST(DatatypeName, WorkedExamplesAndWideIdentifiers) {
    EXPECT_EQ(std::string_view(s7_datatype_name(0)).size(), 4u);
    EXPECT_EQ(std::string_view(s7_datatype_name(10)).size(), 11u);
    EXPECT_EQ(std::string_view(s7_datatype_name(42)), "UNKNOWN");
    EXPECT_EQ(std::string_view(s7_datatype_name(252)).size(), 7u);
    EXPECT_EQ(std::string_view(s7_datatype_name(200)).size(), 20u);
    EXPECT_EQ(std::string_view(s7_datatype_name(0x105)), "INT");  // only the low 8 bits count
}

}  // namespace
