#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// The few things brem-cli asks of the system beyond its serial ports, done its own way on each.
// (The event loop's CatchSignals lives with these too.)

// Whether the stream is a terminal, which can take the live lines' cursor movements.
bool IsTerminal(FILE* pStream);
// The terminal's size in characters; false when it cannot be told.
bool TerminalSize(FILE* pStream, unsigned& nColumns, unsigned& nRows);
// Opens the file to append to, each write landing whole at its end even beside another program
// appending to it; null, with the reason in strWhy, when it cannot be opened.
FILE* OpenToAppend(const std::string& strPath, std::string& strWhy);
// Writes what the stream holds through to the disk; false when it could not.
bool SyncToDisk(FILE* pStream);
// "2024-05-31T09:12:44.031Z".
std::string UtcText(std::chrono::system_clock::time_point tp);

// "Interrupt", "Terminated"; on Windows the console event that stood in for the signal.
std::string SignalName(int nSignal);

// The highest n of "COM<n>" that --port takes.
extern const unsigned g_nLastComPort;
// Whether --port's value is a device path rather than a name: "/dev/ttyUSB0", "\\.\COM3".
bool IsDevicePath(const std::string& strValue);
// What --port takes, in --help and the manual page; and the manual page's finer points.
extern const char* const g_szPortHelp;
extern const char* const g_szPortMore;
// How an adapter shows once plugged in, for a run that finds none.
extern const char* const g_szAdapterHint;
