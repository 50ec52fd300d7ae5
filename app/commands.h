// Command identifiers of the menu, the accelerators and the hidden commands.
#pragma once

#define CMD_WINDOW_LIST_FIRST 100
#define CMD_CLOSE 200
#define CMD_EXIT 201
#define CMD_SHOW_CRLF 202
#define CMD_TILE 203
#define CMD_CASCADE 204
#define CMD_ARRANGE_ICONS 205
#define CMD_CLOSE_ALL 206
#define CMD_SEND_TEST_DATA 213
#define CMD_PORT_SETTINGS 214
#define CMD_CLEAR_SCREEN 216
#define CMD_SET_XOFF 217
#define CMD_SET_XON 218
#define CMD_SET_BREAK 223
#define CMD_CLEAR_BREAK 224
#define CMD_LOOPBACK_TEST 225
#define CMD_OPEN_PORTS 40001
#define CMD_ABOUT 40004

#define IDI_VANT_ICON 101
#define IDD_OPEN_PORTS 102
