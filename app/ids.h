// app/ids.h — the numbers the program and the resource script share.
// Control ids, string ids, the timer id, registry value names.
#ifndef PARVEL_APP_IDS_H
#define PARVEL_APP_IDS_H

// Dialog and picture resources
#define IDD_MAIN 101
#define IDD_POWEROFF 102
#define IDI_MAIN 101
#define IDI_WAIT 103
#define IDI_DONE 105
#define IDI_FOLDER 120
#define IDB_STRIP 119

// Controls of dialog 101
#define IDC_ADDRESS 1000
#define IDC_SEARCH 1001
#define IDC_STATUS 1004
#define IDC_LOG 1017
#define IDC_DEPTH0 1018
#define IDC_DEPTH1 1019
#define IDC_DEPTH2 1020
#define IDC_DEPTHINF 1021
#define IDC_RELOAD 1022
#define IDC_IGNORE 1026
#define IDC_HANGUP 1029
#define IDC_OPTIONS 1035
#define IDC_POWEROFF 1037
#define IDC_RETRY 1038
#define IDC_ADDRESSLABEL 1048
#define IDC_FILEPROGRESS 1049
#define IDC_RUNPROGRESS 1050
#define IDC_ANIMATION 1051

// Controls of dialog 102, the notice before the power is switched off
#define IDC_COUNTDOWN 1060
#define IDC_WARNINGICON 1061

// The window's timers: the animation, and the showing of texts the engine
// threads left (at most every SHOW_INTERVAL ms while a crawl runs: five
// times a second reads as continuous, and under Wine each showing of the
// title, status and bars costs the window and the system several ms)
#define ANIMATION_TIMER 1000
#define ANIMATION_PERIOD 100
#define SHOW_TIMER 1001
#define SHOW_INTERVAL 200

// String table
#define IDS_PROGRESSTITLE 1
#define IDS_TITLE 2
#define IDS_REQUESTFAILED 6
#define IDS_NOTFOUND 7
#define IDS_NOTUPDATED 9
#define IDS_DOWNLOADING 10
#define IDS_RECEIVED 11
#define IDS_RECEIVEDOF 12
#define IDS_FINISHED 13
#define IDS_SAVEFOLDER 15
#define IDS_STOPPING 18
#define IDS_SIZEMISMATCH 20
#define IDS_SHORTCUTFOLDER 22
#define IDS_FTPREQUEST 23
#define IDS_RESUMABLE 24
#define IDS_NOTRESUMABLE 25
#define IDS_TOTAL 26
#define IDS_MENU_RESUME 27
#define IDS_MENU_NOARCHIVES 28
#define IDS_MENU_NOINDEX 29
#define IDS_MENU_NOIMAGES 30
#define IDS_MENU_NOBINARIES 31
#define IDS_MENU_CACHE 32
#define IDS_MENU_OUTSERVER 33
#define IDS_MENU_FTP 34
#define IDS_MENU_SAVEFOLDER 35
#define IDS_MENU_SHORTCUTFOLDER 36
#define IDS_STOP 37
#define IDS_SKIP 38
#define IDS_SEARCH 39
#define IDS_DOWNLOADINGTRY 40
#define IDS_MENU_CERT 41
#define IDS_MENU_MODERN 42

// Registry values under HKEY_CURRENT_USER\software\dwk\qex
#define SETTINGS_KEY "software\\dwk\\qex"
#define REG_START "start"
#define REG_IGNORE "IGNORE"
#define REG_PURL "PURL"
#define REG_REWRE "rewre"
#define REG_DLSIZE "DLSIZE"
#define REG_DLSIZEH "DLSIZEH" // the download total past 32 bits: DLSIZE holds its low 32 bits
#define REG_FOLDER "folder"
#define REG_SHORTCUT "shortcut"
#define REG_OUTSERVER "out_server"
#define REG_RESUME "resume"
#define REG_CACHE "cache"
#define REG_FTP "ftp"
#define REG_RETRY "retry"
#define REG_TIMEOUT "timeout"
#define REG_CBD "cbd"
#define REG_CBE "cbe"
#define REG_CERT "cert"
#define REG_MODERN "modern"
#define REG_WAIT "wait"

#endif
