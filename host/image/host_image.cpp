// The host executable's fixed range, 0x401000 up to 0xA00000, reserved as
// the first section of every program linked with the host layout. Host data
// and routines live at their addresses inside it.
extern "C" {
__attribute__((section(".host"), used)) unsigned char HostImageReserve[0xA00000 - 0x401000];
}
