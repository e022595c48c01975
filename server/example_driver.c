/* Runs the README's embedding example (example.c) as a game server would:
 * datagrams in, datagrams out. Exits 0 when every step went as expected. */
#include <stdio.h>
#include <string.h>

#include "marvik_server.h"

void ac_start(uint64_t now_ms);
void ac_datagram(const uint8_t* bytes, size_t size, uint32_t ip, uint16_t port, uint64_t now_ms);
void ac_frame(uint64_t now_ms);

static uint8_t sent[4][64];
static size_t sentSize[4], sentCount;

void game_send(uint32_t ip, uint16_t port, const uint8_t* bytes, size_t size) {
    (void)ip, (void)port;
    if (sentCount < 4 && size <= sizeof sent[0]) memcpy(sent[sentCount], bytes, size), sentSize[sentCount] = size;
    ++sentCount;
}

int game_banned(const char* guid, const char* hwid) { return strcmp(guid, "BANNED") == 0 || hwid[0] == '\0'; }

/* A datagram by hand: header (magic, version 1, type, length, session 7),
 * then the payload, in clear. */
static size_t datagram(uint8_t* out, uint8_t type, const uint8_t* payload, size_t n) {
    const uint8_t head[12] = {0x00, 0x43, 0x41, 0x4d, 1, type, (uint8_t)n, (uint8_t)(n >> 8), 7, 0, 0, 0};
    memcpy(out, head, sizeof head);
    memcpy(out + 12, payload, n);
    return 12 + n;
}

static int expect(const char* what, size_t count, uint8_t lastType, const char* lastText) {
    const uint8_t* last = sent[count - 1];
    size_t n = sentSize[count - 1];
    if (sentCount == count && last[5] == lastType && n - 12 == strlen(lastText) && memcmp(last + 12, lastText, n - 12) == 0)
        return 0;
    fprintf(stderr, "example: %s: %u datagrams sent, the last of type %u\n", what, (unsigned)sentCount, last[5]);
    return 1;
}

int main(void) {
    uint8_t hello[144] = {0}, answer[41] = {0}, d[200];
    int failures = 0;
    memcpy(hello, "Player", 6);
    memcpy(hello + 44, "MARVIK-1234ABCD-8D9E785A", 24);
    memcpy(hello + 108, "BANNED", 6);
    ac_start(1000);
    /* A banned GUID: the challenge, then the kick that stands as the verdict. */
    ac_datagram(d, datagram(d, MVS_PKT_HELLO, hello, sizeof hello), 0x7F000001u, 40000, 1000);
    failures += expect("banned player", 2, MVS_PKT_KICK, "banned");
    /* Another player whose answer is wrong: rejected. */
    memcpy(hello + 108, "0123456789abcdef0123456789abcdef", 32);
    ac_datagram(d, datagram(d, MVS_PKT_HELLO, hello, sizeof hello), 0x7F000001u, 40001, 1100);
    ac_datagram(d, datagram(d, MVS_PKT_CHALLENGE_RESPONSE, answer, sizeof answer), 0x7F000001u, 40001, 1200);
    failures += expect("wrong answer", 4, MVS_PKT_KICK, "bad answer") + (sent[2][5] != MVS_PKT_CHALLENGE);
    ac_frame(100000); /* both sessions fall silent and are forgotten */
    return failures == 0 ? 0 : 1;
}
