// Identifiers shared by the program's code, its resource scripts, tarnwickctl
// and the tests: commands, resources, dialog controls and window classes.
#pragma once

// Commands of the menu, the accelerators and the hidden commands.
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

// Resources. The named ones are written bare in the scripts; code takes
// their names as strings through RESOURCE_NAME.
#define IDI_VANT_ICON 101
#define IDD_OPEN_PORTS 102
#define VANT_MENU VANTAPMENU
#define VANT_ACCELERATORS VANTACCEL
#define VANT_SETTINGS_DIALOG SETTINGSDLGBOX
// Positions of the menu bar's popups; the port list is kept under the first.
#define MENU_PORT_POSITION 0
#define MENU_SETTINGS_POSITION 1
#define MENU_WINDOW_POSITION 2
#define RESOURCE_NAME_TEXT(name) #name
#define RESOURCE_NAME(name) RESOURCE_NAME_TEXT(name)

// Controls of the Open Ports and COM Settings dialogs.
#define IDC_BAUD 1003
#define IDC_DATA_BITS 1004
#define IDC_FROM_PORT 1005
#define IDC_QUANTITY 1006
#define IDC_PARITY 1008
#define IDC_STOP_BITS 1009
#define IDC_RTS 1010
#define IDC_DTR 1011
#define IDC_RX_XONXOFF 1012
#define IDC_CTS_FLOW 1013
#define IDC_DSR_FLOW 1014
#define IDC_TX_XONXOFF 1015

// The Open Ports list ends at this port; tools refuse runs past it.
#define HIGHEST_PORT 255

// Window classes, and the captions tools look for.
#define VANT_FRAME_CLASS "VantFrame"
#define VANT_PORT_CLASS "VantDraw"
#define OPEN_PORTS_TITLE "Open Ports"
