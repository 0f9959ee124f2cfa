/*
 * Protocol identifiers: the fixed numbers of the controller's protocol,
 * named once for every layer of the library and for the controller
 * simulator, which answers with the same numbers.
 *
 * Only names live here, no behaviour. The tests keep their literal bytes,
 * so that a wrong number shared by both sides still shows.
 */
#ifndef S7_PROTOCOL_H
#define S7_PROTOCOL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ISO-on-TCP: the TPKT header and the COTP TPDU codes. */
enum {
    S7_TPKT_VERSION = 3,
    S7_COTP_CONNECT_REQUEST = 0xE0,
    S7_COTP_CONNECT_CONFIRM = 0xD0,
    S7_COTP_DATA = 0xF0,
    S7_COTP_DATA_HEADER_LENGTH = 2, /* the length indicator of a data TPDU */
    S7_COTP_END_OF_TSDU = 0x80      /* every data TPDU is a whole unit */
};

/* Frames of the request/response protocol and the first byte of what they
 * carry. */
enum {
    S7_FRAME_START = 0x72,
    S7_FRAME_VERSION_1 = 1, /* TLS start and create object */
    S7_FRAME_VERSION_2 = 2, /* every other request of a session */
    S7_MARKER_REQUEST = 0x31,
    S7_MARKER_RESPONSE = 0x32,
    S7_BODY_TLS_START = 0x30,
    S7_BODY_REQUEST = 0x34,
    S7_BODY_CREATE = 0x36
};

/* Function codes of the requests this library sends. Three more
 * (1236, 1266, 1404) share counter A with create object and set values;
 * no request here uses them. */
enum {
    S7_FN_EXPLORE = 1211,
    S7_FN_CREATE_OBJECT = 1226,
    S7_FN_SET_VALUES = 1346,
    S7_FN_READ_VARIABLES = 1356,
    S7_FN_GET_ATTRIBUTE = 1414,
    S7_FN_TLS_START = 1459
};

/* Bit 62 of the TLS-start reply's return value: the controller refused. */
#define S7_TLS_START_ERROR_BIT 0x4000000000000000ull

/* The attribute block read, get-attribute and set-values bodies carry near
 * their end: list 1256 with attribute 1257 (an ID32), 1258 (an ID as VLQ)
 * and 1259 (a U32), each 0. */
enum {
    S7_TAIL_ATTRIBUTE_LIST = 1256,
    S7_TAIL_ATTRIBUTE_ID32 = 1257,
    S7_TAIL_ATTRIBUTE_ID_VLQ = 1258,
    S7_TAIL_ATTRIBUTE_U32 = 1259
};

/* Tags of the object wire form. */
enum {
    S7_TAG_OBJECT_START = 0xA1,
    S7_TAG_OBJECT_END = 0xA2,
    S7_TAG_ATTRIBUTE = 0xA3,
    S7_TAG_RELATION = 0xA4,
    S7_TAG_EMPTY = 0xA7,
    S7_TAG_TYPE_INFO = 0xAB,
    S7_TAG_NAME_LIST = 0xAC
};

/*
 * Session set-up: the session object (211) of class 287 with its type
 * attribute 300 and one child of class 255, created under target 285. The
 * controller hands the session's attribute 306 (a structure 314) back in its
 * reply; its member 319 is the controller type text, and attribute 1842 of
 * the session is the level that decides whether the controller accepts it.
 * Requests carry session id 288 until set-up assigns one.
 */
enum {
    S7_SESSION_INITIAL_ID = 288,
    S7_SESSION_CREATE_TARGET = 285,
    S7_SESSION_OBJECT_ID = 211,
    S7_SESSION_CLASS = 287,
    S7_SESSION_CHILD_CLASS = 255,
    S7_SESSION_TYPE_ATTRIBUTE = 300,
    S7_SESSION_SERVER_ATTRIBUTE = 306,
    S7_SESSION_SERVER_STRUCT = 314,
    S7_SESSION_PLC_TYPE_MEMBER = 319,
    S7_SESSION_LEVEL_ATTRIBUTE = 1842
};
#define S7_SESSION_TYPE_VALUE 0x80C3C901u

/* The controller's two item limits: object 201, attribute 1037, path 1000
 * (items per read request) and 1001. */
enum { S7_LIMITS_OBJECT = 201, S7_LIMITS_ATTRIBUTE = 1037, S7_LIMIT_READ_ITEMS = 1000, S7_LIMIT_AUX_ITEMS = 1001 };

/* The object tree as the browse reads it. */
enum {
    S7_BROWSE_DATABLOCK_ROOT = 3,         /* explored to list the data blocks */
    S7_BROWSE_TYPE_INFO_ROOT = 537,       /* explored to fetch the type-info objects */
    S7_BROWSE_TYPE_INFO_CLASS = 534,      /* class of the parent of the type-info objects */
    S7_BROWSE_TYPE_OBJECT_CLASS = 535,    /* class of each type-info object */
    S7_BROWSE_DATABLOCK_CLASS = 2574,     /* class of data-block objects */
    S7_BROWSE_NAME_ATTRIBUTE = 233,       /* an object's name */
    S7_BROWSE_DATABLOCK_ATTRIBUTE = 2550, /* type-info reference (path 1); attribute of data-block addresses */
    S7_BROWSE_AREA_ATTRIBUTE = 3736       /* attribute of memory-area addresses */
};

/* Data-block object identifiers carry this in their upper 16 bits, the
 * block number in the lower. */
#define S7_BROWSE_DATABLOCK_ID_BASE 0x8A0E0000u

/* The explore filter of the data-block listing: structure 1246 with its
 * members 1247 (8), 1249 (0), 1250 (32 zeros) and 1251 (the data-block
 * class). The controller wants it so; its meaning is the controller's. */
enum {
    S7_FILTER_STRUCT = 1246,
    S7_FILTER_MEMBER_A = 1247,
    S7_FILTER_MEMBER_A_VALUE = 8,
    S7_FILTER_MEMBER_B = 1249,
    S7_FILTER_MEMBER_ARRAY = 1250,
    S7_FILTER_ARRAY_LENGTH = 32,
    S7_FILTER_MEMBER_CLASS = 1251
};

/* The memory areas: a code that is also the object identifier of their
 * item addresses, the type-info object that describes them, and a name. */
typedef struct s7_area {
    uint32_t code;
    uint32_t type_info_id;
    const char* name;
} s7_area;

enum { S7_AREA_COUNT = 5 };

/* I, Q, M, S7Timers, S7Counters: the order in which every block list ends. */
extern const s7_area s7_memory_areas[S7_AREA_COUNT];

#ifdef __cplusplus
}
#endif

#endif
