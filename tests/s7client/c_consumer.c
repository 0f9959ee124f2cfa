/* A C program against the public headers: proves that every installed
 * header is plain C and that the library links into a C program. Exits
 * non-zero on the first broken promise. */
#include <vemo/s7browse.h>
#include <vemo/s7client.h>
#include <vemo/s7datatype.h>
#include <vemo/s7identity.h>
#include <vemo/s7read.h>
#include <vemo/s7write.h>
#include <vemo/s7value.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static size_t live_blocks;

static void* count_alloc(void* context, size_t size) {
    (void)context;
    void* block = malloc(size);
    if (block != NULL) {
        ++live_blocks;
    }
    return block;
}

static void* count_realloc(void* context, void* block, size_t size) {
    (void)context;
    void* moved = realloc(block, size);
    if (moved != NULL && block == NULL) {
        ++live_blocks;
    }
    return moved;
}

static void count_free(void* context, void* block) {
    (void)context;
    if (block != NULL) {
        --live_blocks;
    }
    free(block);
}

#define CHECK(cond)                                                    \
    do {                                                               \
        if (!(cond)) {                                                 \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                  \
        }                                                              \
    } while (0)

int main(void) {
    static const s7_alloc_hooks hooks = {count_alloc, count_realloc, count_free, NULL};
    s7_set_alloc_hooks(&hooks);

    vemoc_s7_client* client = vemoc_s7_client_new();
    CHECK(client != NULL);
    CHECK(live_blocks == 2); /* the handle and its socket slot */
    CHECK(vemoc_s7_client_get_state(client) == S7_CLIENT_DISCONNECTED);
    CHECK(vemoc_s7_client_connect(client, NULL, 102, 1000) == S7_ERR_ARGUMENT);
    CHECK(vemoc_s7_client_connect(client, "127.0.0.1", 0, 1000) == S7_ERR_ARGUMENT);
    int system_error = -1;
    CHECK(vemoc_s7_client_get_connect_cause(client, &system_error) == S7_CAUSE_NONE && system_error == 0);
    CHECK(vemoc_s7_client_connect(client, "", 102, 1000) == S7_ERR_CONNECT);
    CHECK(vemoc_s7_client_get_connect_cause(client, NULL) == S7_CAUSE_EMPTY_HOST);
    uint32_t items = 0;
    CHECK(vemoc_s7_client_get_max_read_items(client, &items) == S7_ERR_NOT_CONNECTED);
    CHECK(strcmp(s7_result_name(S7_ERR_TLS), "S7_ERR_TLS") == 0);
    CHECK(strcmp(s7_datatype_name(S7_DATATYPE_TIME_OF_DAY), "TIME_OF_DAY") == 0);
    CHECK(s7_datatype_is_browsable(S7_DATATYPE_STRING));
    CHECK(strcmp(vemoc_s7_client_get_plc_type(client), "") == 0);
    CHECK(vemoc_s7_client_read_each(client, NULL, 1, NULL) == S7_ERR_ARGUMENT);
    s7_item_results_free(NULL, 0);
    CHECK(vemoc_s7_client_write(client, NULL, NULL, 1, NULL) == S7_ERR_ARGUMENT);
    s7_write_results_free(NULL);
    s7_identity identity;
    CHECK(vemoc_s7_client_get_identity(client, &identity) == S7_ERR_NOT_CONNECTED);
    vemoc_s7_client_abort(client); /* nothing in flight: a no-op */
    vemoc_s7_client_free(client);
    CHECK(live_blocks == 0);

    /* An array of scalars is read through the element getters. */
    s7_value* bytes = s7_value_new_array(S7_TYPE_U8, S7_FLAG_ARRAY);
    CHECK(bytes != NULL);
    CHECK(s7_array_append(bytes, s7_value_new_u8(7)) == S7_OK);
    CHECK(s7_array_append(bytes, s7_value_new_u8(9)) == S7_OK);
    CHECK(s7_array_holds_scalars(bytes));
    uint8_t element = 0;
    uint32_t key = 0;
    const s7_value* none = NULL;
    CHECK(s7_array_get_u8(bytes, 1, &element) == S7_OK && element == 9);
    CHECK(s7_array_key_at(bytes, 1, &key) == S7_OK && key == 1);
    CHECK(s7_array_at(bytes, 0, &none) == S7_ERR_ARGUMENT && none == NULL);
    s7_value_free(bytes);
    CHECK(live_blocks == 0);

    /* A fingerprint's text reads back as its digest. */
    uint8_t digest[S7_FINGERPRINT_SIZE];
    uint8_t back[S7_FINGERPRINT_SIZE];
    char text[S7_FINGERPRINT_TEXT_SIZE];
    for (size_t i = 0; i < sizeof digest; ++i) {
        digest[i] = (uint8_t)(i * 37u);
    }
    CHECK(s7_fingerprint_format(digest, text, sizeof text) == S7_OK);
    CHECK(strncmp(text, "SHA256:", 7) == 0 && strlen(text) == S7_FINGERPRINT_TEXT_SIZE - 1);
    CHECK(s7_fingerprint_parse(text, back) == S7_OK && memcmp(back, digest, sizeof digest) == 0);
    CHECK(live_blocks == 0);

    s7_set_alloc_hooks(NULL);
    puts("C consumer: ok");
    return 0;
}
