// The data-type vocabulary: one table of names and one of what the browse
// lists, each indexed by the identifier byte, so that a lookup is one index.
#include <vemo/s7datatype.h>

#include <array>

namespace {

struct Name {
    uint8_t id;
    const char* text;
};

// Each identifier's name is its constant's name without the prefix.
// clang-format off
#define N(name) {S7_DATATYPE_##name, #name}
constexpr Name kNames[] = {
    N(VOID), N(BOOL), N(BYTE), N(CHAR), N(WORD), N(INT), N(DWORD), N(DINT), N(REAL), N(DATE), N(TIME_OF_DAY),
    N(TIME), N(S5TIME), N(S5COUNT), N(DATE_AND_TIME), N(INTERNET_TIME), N(ARRAY), N(STRUCT), N(END_STRUCT),
    N(STRING), N(POINTER), N(MULTI_FB), N(ANY), N(BLOCK_FB), N(BLOCK_FC), N(BLOCK_DB), N(BLOCK_SDB), N(MULTI_SFB),
    N(COUNTER), N(TIMER), N(IEC_COUNTER), N(IEC_TIMER), N(BLOCK_SFB), N(BLOCK_SFC), N(BLOCK_CB), N(BLOCK_SCB),
    N(BLOCK_OB), N(BLOCK_UDT), N(OFFSET), N(BLOCK_SDT), N(BBOOL), N(BLOCK_EXT), N(LREAL), N(ULINT), N(LINT),
    N(LWORD), N(USINT), N(UINT), N(UDINT), N(SINT), N(BCD8), N(BCD16), N(BCD32), N(BCD64), N(AREF), N(WCHAR),
    N(WSTRING), N(VARIANT), N(LTIME), N(LTOD), N(LDT), N(DTL), N(IEC_LTIMER), N(IEC_SCOUNTER), N(IEC_DCOUNTER),
    N(IEC_LCOUNTER), N(IEC_UCOUNTER), N(IEC_USCOUNTER), N(IEC_UDCOUNTER), N(IEC_ULCOUNTER), N(REMOTE),
    N(ERROR_STRUCT), N(NREF), N(VREF), N(FBT_REF), N(CREF), N(VA_REF), N(AOM_IDENT), N(EVENT_ANY), N(EVENT_ATT),
    N(EVENT_HW_INT), N(FOLDER), N(AOM_AID), N(AOM_LINK), N(HW_ANY), N(HW_IO_SYSTEM), N(HW_DP_MASTER), N(HW_DEVICE),
    N(HW_DP_SLAVE), N(HW_IO), N(HW_MODULE), N(HW_SUB_MODULE), N(HW_HSC), N(HW_PWM), N(HW_PTO), N(HW_INTERFACE),
    N(HW_IE_PORT), N(OB_ANY), N(OB_DELAY), N(OB_TOD), N(OB_CYCLIC), N(OB_ATT), N(CONN_ANY), N(CONN_PRG),
    N(CONN_OUC), N(CONN_RID), N(HW_NR), N(PORT), N(RTM), N(PIP), N(C_ALARM), N(C_ALARMS), N(C_ALARM8), N(C_ALARM8P),
    N(C_ALARM_T), N(CAR_SEND), N(C_NOTIFY), N(C_NOTIFY8P), N(OB_P_CYCLE), N(OB_HW_INT), N(OB_COMM), N(OB_DIAG),
    N(OB_TIME_ERROR), N(OB_STARTUP), N(OPC_UA_LOC_TXT_ENC_M), N(OPC_UA_STR_ACT_LEN), N(DB_ANY), N(DB_WWW),
    N(DB_DYN), N(PARA), N(LABEL), N(U_DEFINED),
};
#undef N
// clang-format on

constexpr const char* kUnknown = "UNKNOWN";

struct Range {
    uint8_t first;
    uint8_t last;
};

// The data types whose elementary members the browse lists (see
// s7_datatype_is_browsable), as inclusive runs of identifiers.
constexpr Range kBrowsable[] = {
    {S7_DATATYPE_BOOL, S7_DATATYPE_S5TIME},
    {S7_DATATYPE_DATE_AND_TIME, S7_DATATYPE_DATE_AND_TIME},
    {S7_DATATYPE_STRING, S7_DATATYPE_POINTER},
    {S7_DATATYPE_ANY, S7_DATATYPE_BLOCK_FC},
    {S7_DATATYPE_COUNTER, S7_DATATYPE_TIMER},
    {S7_DATATYPE_BBOOL, S7_DATATYPE_BBOOL},
    {S7_DATATYPE_LREAL, S7_DATATYPE_SINT},
    {S7_DATATYPE_WCHAR, S7_DATATYPE_WSTRING},
    {S7_DATATYPE_LTIME, S7_DATATYPE_DTL},
    {S7_DATATYPE_REMOTE, S7_DATATYPE_REMOTE},
    {S7_DATATYPE_AOM_IDENT, S7_DATATYPE_EVENT_ATT},
    {S7_DATATYPE_FOLDER, S7_DATATYPE_FOLDER},
    {S7_DATATYPE_AOM_LINK, S7_DATATYPE_AOM_LINK},
    {S7_DATATYPE_HW_ANY, S7_DATATYPE_HW_IE_PORT},
    {S7_DATATYPE_OB_ANY, S7_DATATYPE_OB_ATT},
    {S7_DATATYPE_CONN_ANY, S7_DATATYPE_CONN_RID},
    {S7_DATATYPE_PORT, S7_DATATYPE_PIP},
    {S7_DATATYPE_OB_P_CYCLE, S7_DATATYPE_OB_HW_INT},
    {S7_DATATYPE_OB_DIAG, S7_DATATYPE_OB_STARTUP},
    {S7_DATATYPE_DB_ANY, S7_DATATYPE_DB_DYN},
};

constexpr std::array<const char*, 256> makeNameTable() {
    std::array<const char*, 256> table{};
    for (auto& text : table) {
        text = kUnknown;
    }
    for (const Name& n : kNames) {
        table[n.id] = n.text;
    }
    return table;
}

constexpr std::array<bool, 256> makeBrowsableTable() {
    std::array<bool, 256> table{};
    for (const Range& r : kBrowsable) {
        for (unsigned id = r.first; id <= r.last; ++id) {
            table[id] = true;
        }
    }
    return table;
}

constexpr std::array<const char*, 256> kNameTable = makeNameTable();
constexpr std::array<bool, 256> kBrowsableTable = makeBrowsableTable();

}  // namespace

extern "C" {

const char* s7_datatype_name(uint32_t datatype) { return kNameTable[datatype & 0xFFu]; }

bool s7_datatype_is_browsable(uint32_t datatype) { return kBrowsableTable[datatype & 0xFFu]; }

}  // extern "C"
