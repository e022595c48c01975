/* marvik_server.h: the server side of the Marvik AC protocol, for the
 * anti-cheat plug-in of a game server.
 *
 * The library has no sockets, threads or clock of its own. The program hands
 * it every datagram that reaches the anti-cheat port, with its sender and the
 * time, calls mvs_tick now and then, and reads back events: what the clients
 * reported, and the datagrams to send (MVS_EV_SEND), which the program sends
 * from the anti-cheat port to the address in the event. It checks every
 * datagram, answers hellos with fresh random challenges, verifies answers,
 * puts chunked reports back together and notices sessions that fell silent;
 * what to accept, kick or log is the program's.
 *
 * Plain C (C11, for its anonymous unions) and C++. One mvs_server
 * holds one session table and nothing else is shared, so a program may run
 * several, one per thread; a single mvs_server is not for two threads at
 * once. No function throws; on memory exhaustion a call returns 0. */
#ifndef MARVIK_SERVER_H
#define MARVIK_SERVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mvs_server mvs_server;

/* An IPv4 address and a UDP port, both in host byte order
 * (127.0.0.1 is 0x7F000001). */
typedef struct mvs_addr {
    uint32_t ip;
    uint16_t port;
} mvs_addr;

/* One client session: the sender's address and port and the session id the
 * client put in its header. A client that starts again (a new game, or after
 * a kick) comes back as a new session: new id, new port. */
typedef struct mvs_peer {
    mvs_addr addr;
    uint32_t session_id;
} mvs_peer;

typedef struct mvs_options {
    /* 1 when the clients are set to encryption=1: payloads of all types but
     * hello and challenge are RC4, both ways. The clients' setting cannot be
     * read from the wire; a mismatch shows as MVS_EV_ANSWER with a reason. */
    int encryption;
    /* A report that gets no chunk for this long ends incomplete. */
    uint32_t report_timeout_ms;
    /* A session that sends nothing for this long ends (MVS_EV_SILENT) and is
     * forgotten; 0: never. Clients send a heartbeat every 5 s. */
    uint32_t silence_timeout_ms;
    /* Sessions held at once; the least recently heard is dropped first
     * (MVS_EV_DROPPED), so forged session ids cannot grow memory. */
    uint32_t max_sessions;
    /* Fills n bytes for a challenge and returns 1, or 0 when it cannot (the
     * hello then gets no challenge). NULL: the system's random source. */
    int (*fill_random)(void* context, uint8_t* out, size_t n);
    void* random_context;
} mvs_options;

/* Sets the defaults: no encryption, 5000 ms report time-out, 30000 ms
 * silence time-out, 256 sessions, the system's random source. */
void mvs_options_init(mvs_options* options);

/* A server with no sessions, started at now_ms (any millisecond clock that
 * never goes back; events carry times relative to it). NULL when out of
 * memory. */
mvs_server* mvs_create(const mvs_options* options, uint64_t now_ms);
void mvs_destroy(mvs_server* server);

/* Handles one received datagram of size bytes from sender. Its events are
 * queued for mvs_next_event. Returns 1, or 0 when out of memory or without
 * a sender. A datagram that cannot be understood becomes MVS_EV_MALFORMED,
 * never a failure. */
int mvs_feed(mvs_server* server, const uint8_t* datagram, size_t size, const mvs_addr* sender,
             uint64_t now_ms);

/* Ends the reports and sessions whose time is up, queueing their events.
 * Call it at least by mvs_next_deadline. Returns 1, or 0 when out of memory. */
int mvs_tick(mvs_server* server, uint64_t now_ms);

/* When mvs_tick next has work, or UINT64_MAX when it has none. */
uint64_t mvs_next_deadline(const mvs_server* server);

/* Ends every open report as incomplete ("server stopped"), for a server
 * shutting down. Returns 1, or 0 when out of memory. */
int mvs_close_reports(mvs_server* server, uint64_t now_ms);

/* Where a session is in the handshake. */
typedef enum mvs_handshake {
    MVS_HS_NONE,        /* no hello seen: reports from an unknown session */
    MVS_HS_CHALLENGED,  /* hello answered with a challenge */
    MVS_HS_ANSWERED,    /* answer received, no verdict sent */
    MVS_HS_VERIFIED,    /* PKT_VERIFY_OK sent */
    MVS_HS_REJECTED,    /* PKT_KICK sent as the verdict */
    MVS_HS_KICKED       /* PKT_KICK sent later */
} mvs_handshake;

typedef enum mvs_event_type {
    MVS_EV_SEND = 1,          /* send bytes to peer.addr (already framed and encrypted) */
    MVS_EV_MALFORMED,         /* a datagram refused: reason; peer.session_id is 0 */
    MVS_EV_HELLO,             /* PKT_HELLO; the challenge follows as MVS_EV_SEND */
    MVS_EV_ANSWER,            /* PKT_CHALLENGE_RESPONSE, checked: call mvs_verdict */
    MVS_EV_HEARTBEAT,         /* PKT_HEARTBEAT */
    MVS_EV_IDENTITY,          /* PKT_IDENTITY */
    MVS_EV_MEMORY_REPORT,     /* PKT_MEMORY_REPORT */
    MVS_EV_MODULE_LIST_CHUNK, /* one PKT_MODULE_LIST datagram */
    MVS_EV_MODULE_LOG_CHUNK,  /* one PKT_MODULE_LOG datagram */
    MVS_EV_CONFIG_CHUNK,      /* one PKT_CONFIG_CHUNK datagram */
    MVS_EV_MODULE_LIST,       /* a module list put together, or ended incomplete */
    MVS_EV_MODULE_LOG,        /* a module log put together, or ended incomplete */
    MVS_EV_CONFIG,            /* a config_mp.cfg upload put together, or ended incomplete */
    MVS_EV_SILENT,            /* nothing heard for silence_timeout_ms; session forgotten */
    MVS_EV_DROPPED            /* forgotten to make room for a new session */
} mvs_event_type;

/* One module of a module list or log. Texts are the field up to its first
 * NUL, always NUL-terminated here; a list has no path and no mark. */
typedef struct mvs_module {
    char name[129];
    char path[261];
    uint32_t crc32;
    uint32_t image_size;
    uint8_t suspicious;
} mvs_module;

typedef struct mvs_event {
    mvs_event_type type;
    mvs_peer peer;           /* the session, or for MVS_EV_SEND the destination */
    mvs_handshake handshake; /* the session's state after this event */
    uint64_t time_ms;        /* now_ms of the call, less the server's start */
    union {
        struct {
            uint8_t type; /* packet type */
            const uint8_t* bytes;
            size_t size;
        } send;
        struct {
            const char* reason;
            size_t size; /* bytes of the datagram */
        } malformed;
        struct {
            char player[37];
            uint32_t server_port;
            uint32_t client_version;
            char hwid[65];
            char guid[37];
            int retry; /* a hello of this session came before */
        } hello;
        struct {
            int verified;       /* the answer matches this session's challenge */
            const char* reason; /* why not; "" when verified */
            uint8_t answer[32];
            uint32_t self_crc;
            uint32_t game_crc;
            uint8_t integrity_flags;
        } answer;
        struct {
            uint32_t tick_count;
            uint32_t process_count;
            uint8_t debugger_flag;
            uint8_t module_alert_flag;
            uint8_t integrity_alert_flag;
            uint8_t reserved;
            uint32_t self_crc;
            uint32_t uptime_seconds;
        } heartbeat;
        struct {
            char hwid[65];
            char guid[37];
            uint32_t timestamp;
        } identity;
        struct {
            uint32_t address;
            uint32_t size;
            uint8_t hit_flag;
            char description[65];
        } memory;
        struct {
            uint16_t chunk_index;
            uint16_t chunk_count;
            uint16_t entries;
            uint16_t total_entries;
            int duplicate; /* this chunk came before; ignored */
        } module_chunk;
        struct {
            char player[37];
            uint32_t file_size;
            uint32_t data_bytes;
            uint32_t offset;
            uint32_t chunks; /* of this upload so far, this one included */
        } config_chunk;
        struct {
            int complete;
            const char* reason; /* why incomplete; "" when complete */
            uint16_t chunk_count;
            uint16_t chunks_received;
            uint16_t total_entries;
            uint32_t duplicates;
            uint32_t tick_count; /* module log only: names the report */
            const mvs_module* modules; /* of the chunks that came, in order */
            size_t module_count;
            const uint16_t* missing_chunks;
            size_t missing_count;
        } modules;
        struct {
            int complete;
            const char* reason; /* why incomplete; "" when complete */
            char player[37];
            uint32_t file_size;
            uint32_t chunks;
            const uint8_t* data; /* the bytes that came, in order */
            size_t size;
        } config;
    };
} mvs_event;

/* Takes the oldest queued event into event and returns 1, or returns 0 when
 * none is queued. Its pointers stay valid until the next mvs_next_event,
 * mvs_feed, mvs_tick, mvs_close_reports or mvs_destroy. */
int mvs_next_event(mvs_server* server, mvs_event* event);

/* Queues the verdict for a session that sent MVS_EV_ANSWER: PKT_VERIFY_OK
 * when accept is 1, else PKT_KICK with reason as its payload (the client
 * never reads it; NULL for none; up to 1024 bytes of it). The event's time
 * is that of the last mvs_feed or mvs_tick. Returns 1, or 0 for an unknown
 * session. */
int mvs_verdict(mvs_server* server, const mvs_peer* peer, int accept, const char* reason);

/* Queues a command: PKT_KICK (ends the client's session), and
 * PKT_SCREENSHOT_REQUEST or PKT_UPDATE_AVAILABLE (the client only logs
 * them). text is the payload as for mvs_verdict. Returns 1, or 0 for an
 * unknown session or another type. */
int mvs_command(mvs_server* server, const mvs_peer* peer, uint8_t type, const char* text);

/* Packet type codes. */
enum {
    MVS_PKT_HELLO = 1,
    MVS_PKT_CHALLENGE = 2,
    MVS_PKT_CHALLENGE_RESPONSE = 3,
    MVS_PKT_VERIFY_OK = 4,
    MVS_PKT_HEARTBEAT = 5,
    MVS_PKT_MODULE_LIST = 6,
    MVS_PKT_KICK = 10,
    MVS_PKT_MEMORY_REPORT = 12,
    MVS_PKT_IDENTITY = 13,
    MVS_PKT_MODULE_LOG = 14,
    MVS_PKT_SCREENSHOT_REQUEST = 15,
    MVS_PKT_UPDATE_AVAILABLE = 18,
    MVS_PKT_CONFIG_CHUNK = 20
};

/* The name of a packet type ("PKT_HELLO"), or "unknown". */
const char* mvs_packet_name(uint8_t type);

#ifdef __cplusplus
}
#endif

#endif
