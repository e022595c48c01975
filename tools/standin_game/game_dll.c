// One of the realistic stand-in game's own DLLs, built once per entry of the table in CMakeLists.txt: code,
// read-only data and data of about the size given (45, 30 and 20 %), three exports, and pointers to them in its
// data that the loader relocates.
#define STRINGIFY(x) #x
#define FILL(bytes) STRINGIFY(bytes)

// The code beyond the exports, as padding between functions looks.
__asm__(".section .text\n.balign 16\n.fill " FILL(GAME_DLL_KIB * 1024 * 45 / 100) ", 1, 0xCC\n");
__attribute__((used)) static const char g_table[GAME_DLL_KIB * 1024 * 30 / 100] = GAME_DLL_NAME " asset table";
__attribute__((used)) char g_state[GAME_DLL_KIB * 1024 * 20 / 100] = GAME_DLL_NAME;

__declspec(dllexport) int ModuleInit(int x) { return x * 3 + GAME_DLL_INDEX; }
__declspec(dllexport) int ModuleUpdate(int x) { return x * 5 + GAME_DLL_INDEX; }
__declspec(dllexport) const char* ModuleVersion(void) { return g_table; }
__attribute__((used)) void* volatile g_exports[] = {(void*)ModuleInit, (void*)ModuleUpdate, (void*)ModuleVersion};
