/*
 * VEMO S7 client library: the controller's data types.
 *
 * Every variable the controller describes carries a one-byte data-type
 * identifier: in its type description, and from there in each browsed
 * symbol (s7_symbol.datatype). These identifiers are not the value types of
 * <vemo/s7value.h>, which number the wire forms values travel in.
 *
 * Usable from C and C++.
 */
#ifndef VEMO_S7DATATYPE_H
#define VEMO_S7DATATYPE_H

#include <vemo/s7api.h>

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The identifiers that have a name; any other byte is "UNKNOWN". */
enum {
    S7_DATATYPE_VOID = 0,
    S7_DATATYPE_BOOL = 1,
    S7_DATATYPE_BYTE = 2,
    S7_DATATYPE_CHAR = 3,
    S7_DATATYPE_WORD = 4,
    S7_DATATYPE_INT = 5,
    S7_DATATYPE_DWORD = 6,
    S7_DATATYPE_DINT = 7,
    S7_DATATYPE_REAL = 8,
    S7_DATATYPE_DATE = 9,
    S7_DATATYPE_TIME_OF_DAY = 10,
    S7_DATATYPE_TIME = 11,
    S7_DATATYPE_S5TIME = 12,
    S7_DATATYPE_S5COUNT = 13,
    S7_DATATYPE_DATE_AND_TIME = 14,
    S7_DATATYPE_INTERNET_TIME = 15,
    S7_DATATYPE_ARRAY = 16,
    S7_DATATYPE_STRUCT = 17,
    S7_DATATYPE_END_STRUCT = 18,
    S7_DATATYPE_STRING = 19,
    S7_DATATYPE_POINTER = 20,
    S7_DATATYPE_MULTI_FB = 21,
    S7_DATATYPE_ANY = 22,
    S7_DATATYPE_BLOCK_FB = 23,
    S7_DATATYPE_BLOCK_FC = 24,
    S7_DATATYPE_BLOCK_DB = 25,
    S7_DATATYPE_BLOCK_SDB = 26,
    S7_DATATYPE_MULTI_SFB = 27,
    S7_DATATYPE_COUNTER = 28,
    S7_DATATYPE_TIMER = 29,
    S7_DATATYPE_IEC_COUNTER = 30,
    S7_DATATYPE_IEC_TIMER = 31,
    S7_DATATYPE_BLOCK_SFB = 32,
    S7_DATATYPE_BLOCK_SFC = 33,
    S7_DATATYPE_BLOCK_CB = 34,
    S7_DATATYPE_BLOCK_SCB = 35,
    S7_DATATYPE_BLOCK_OB = 36,
    S7_DATATYPE_BLOCK_UDT = 37,
    S7_DATATYPE_OFFSET = 38,
    S7_DATATYPE_BLOCK_SDT = 39,
    S7_DATATYPE_BBOOL = 40,
    S7_DATATYPE_BLOCK_EXT = 41,
    S7_DATATYPE_LREAL = 48,
    S7_DATATYPE_ULINT = 49,
    S7_DATATYPE_LINT = 50,
    S7_DATATYPE_LWORD = 51,
    S7_DATATYPE_USINT = 52,
    S7_DATATYPE_UINT = 53,
    S7_DATATYPE_UDINT = 54,
    S7_DATATYPE_SINT = 55,
    S7_DATATYPE_BCD8 = 56,
    S7_DATATYPE_BCD16 = 57,
    S7_DATATYPE_BCD32 = 58,
    S7_DATATYPE_BCD64 = 59,
    S7_DATATYPE_AREF = 60,
    S7_DATATYPE_WCHAR = 61,
    S7_DATATYPE_WSTRING = 62,
    S7_DATATYPE_VARIANT = 63,
    S7_DATATYPE_LTIME = 64,
    S7_DATATYPE_LTOD = 65,
    S7_DATATYPE_LDT = 66,
    S7_DATATYPE_DTL = 67,
    S7_DATATYPE_IEC_LTIMER = 68,
    S7_DATATYPE_IEC_SCOUNTER = 69,
    S7_DATATYPE_IEC_DCOUNTER = 70,
    S7_DATATYPE_IEC_LCOUNTER = 71,
    S7_DATATYPE_IEC_UCOUNTER = 72,
    S7_DATATYPE_IEC_USCOUNTER = 73,
    S7_DATATYPE_IEC_UDCOUNTER = 74,
    S7_DATATYPE_IEC_ULCOUNTER = 75,
    S7_DATATYPE_REMOTE = 96,
    S7_DATATYPE_ERROR_STRUCT = 97,
    S7_DATATYPE_NREF = 98,
    S7_DATATYPE_VREF = 99,
    S7_DATATYPE_FBT_REF = 100,
    S7_DATATYPE_CREF = 101,
    S7_DATATYPE_VA_REF = 102,
    S7_DATATYPE_AOM_IDENT = 128,
    S7_DATATYPE_EVENT_ANY = 129,
    S7_DATATYPE_EVENT_ATT = 130,
    S7_DATATYPE_EVENT_HW_INT = 131,
    S7_DATATYPE_FOLDER = 132,
    S7_DATATYPE_AOM_AID = 133,
    S7_DATATYPE_AOM_LINK = 134,
    S7_DATATYPE_HW_ANY = 144,
    S7_DATATYPE_HW_IO_SYSTEM = 145,
    S7_DATATYPE_HW_DP_MASTER = 146,
    S7_DATATYPE_HW_DEVICE = 147,
    S7_DATATYPE_HW_DP_SLAVE = 148,
    S7_DATATYPE_HW_IO = 149,
    S7_DATATYPE_HW_MODULE = 150,
    S7_DATATYPE_HW_SUB_MODULE = 151,
    S7_DATATYPE_HW_HSC = 152,
    S7_DATATYPE_HW_PWM = 153,
    S7_DATATYPE_HW_PTO = 154,
    S7_DATATYPE_HW_INTERFACE = 155,
    S7_DATATYPE_HW_IE_PORT = 156,
    S7_DATATYPE_OB_ANY = 160,
    S7_DATATYPE_OB_DELAY = 161,
    S7_DATATYPE_OB_TOD = 162,
    S7_DATATYPE_OB_CYCLIC = 163,
    S7_DATATYPE_OB_ATT = 164,
    S7_DATATYPE_CONN_ANY = 168,
    S7_DATATYPE_CONN_PRG = 169,
    S7_DATATYPE_CONN_OUC = 170,
    S7_DATATYPE_CONN_RID = 171,
    S7_DATATYPE_HW_NR = 172,
    S7_DATATYPE_PORT = 173,
    S7_DATATYPE_RTM = 174,
    S7_DATATYPE_PIP = 175,
    S7_DATATYPE_C_ALARM = 176,
    S7_DATATYPE_C_ALARMS = 177,
    S7_DATATYPE_C_ALARM8 = 178,
    S7_DATATYPE_C_ALARM8P = 179,
    S7_DATATYPE_C_ALARM_T = 180,
    S7_DATATYPE_CAR_SEND = 181,
    S7_DATATYPE_C_NOTIFY = 182,
    S7_DATATYPE_C_NOTIFY8P = 183,
    S7_DATATYPE_OB_P_CYCLE = 192,
    S7_DATATYPE_OB_HW_INT = 193,
    S7_DATATYPE_OB_COMM = 194,
    S7_DATATYPE_OB_DIAG = 195,
    S7_DATATYPE_OB_TIME_ERROR = 196,
    S7_DATATYPE_OB_STARTUP = 197,
    S7_DATATYPE_OPC_UA_LOC_TXT_ENC_M = 200,
    S7_DATATYPE_OPC_UA_STR_ACT_LEN = 201,
    S7_DATATYPE_DB_ANY = 208,
    S7_DATATYPE_DB_WWW = 209,
    S7_DATATYPE_DB_DYN = 210,
    S7_DATATYPE_PARA = 253,
    S7_DATATYPE_LABEL = 254,
    S7_DATATYPE_U_DEFINED = 255,
};

/*
 * The display name of a data-type identifier ("BOOL", "TIME_OF_DAY"), or
 * "UNKNOWN" for an identifier without a name of its own. Only the low 8 bits
 * of `datatype` count. The text is static and NUL-terminated.
 */
S7_API const char* s7_datatype_name(uint32_t datatype);

/*
 * True when the browse lists an elementary member of this data type as a
 * symbol: the plain variables, strings, pointers, timers and counters, the
 * 64-bit and unsigned types, the date and time types, and the system object
 * types that read like a plain identifier. Alarms, IEC timer and counter
 * structures, BCD types and variants are not listed. Only the low 8 bits of
 * `datatype` count.
 */
S7_API bool s7_datatype_is_browsable(uint32_t datatype);

#ifdef __cplusplus
}
#endif

#endif /* VEMO_S7DATATYPE_H */
