#include "marvik_server.h"

/* The host game server's side. */
void game_send(uint32_t ip, uint16_t port, const uint8_t* bytes, size_t size);
int game_banned(const char* guid, const char* hwid);

static mvs_server* ac;

void ac_start(uint64_t now_ms) {
    mvs_options o;
    mvs_options_init(&o);
    ac = mvs_create(&o, now_ms);
}

static void ac_drain(void) {
    mvs_event e;
    while (mvs_next_event(ac, &e)) {
        if (e.type == MVS_EV_SEND)
            game_send(e.peer.addr.ip, e.peer.addr.port, e.send.bytes, e.send.size);
        else if (e.type == MVS_EV_HELLO && game_banned(e.hello.guid, e.hello.hwid))
            mvs_command(ac, &e.peer, MVS_PKT_KICK, "banned"); /* the client takes it as its verdict */
        else if (e.type == MVS_EV_ANSWER && e.handshake == MVS_HS_ANSWERED)
            mvs_verdict(ac, &e.peer, e.answer.verified, "bad answer");
        else if (e.type == MVS_EV_HEARTBEAT && (e.heartbeat.debugger_flag || e.heartbeat.integrity_alert_flag))
            mvs_command(ac, &e.peer, MVS_PKT_KICK, "tampering");
    }
}

/* Every datagram that reaches the anti-cheat port; and once a frame. */
void ac_datagram(const uint8_t* bytes, size_t size, uint32_t ip, uint16_t port, uint64_t now_ms) {
    mvs_addr from = {ip, port};
    mvs_feed(ac, bytes, size, &from, now_ms);
    ac_drain();
}

void ac_frame(uint64_t now_ms) {
    if (now_ms >= mvs_next_deadline(ac)) mvs_tick(ac, now_ms);
    ac_drain();
}
