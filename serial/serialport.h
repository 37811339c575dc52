#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Notifications the monitor thread sends to the owner (message number, wParam, lParam).
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_COMM_BREAK_DETECTED = WM_USER + 1;
constexpr unsigned WM_COMM_CTS_DETECTED = WM_USER + 2;
constexpr unsigned WM_COMM_ERR_DETECTED = WM_USER + 4;
constexpr unsigned WM_COMM_RING_DETECTED = WM_USER + 5;
constexpr unsigned WM_COMM_RXCHAR = WM_USER + 7;
constexpr unsigned WM_COMM_RXFLAG_DETECTED = WM_USER + 8;

// Port event bits for the event mask.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;

// The window (or the command-line host, or a test) that receives what the port reports.
class CSerialPortOwner {
public:
    virtual ~CSerialPortOwner() = default;

    // Any thread. Queues fn to run on the owner's thread, in posting order; never blocks.
    // The port uses it to deliver notifications and error boxes synchronously: it waits for
    // fn to finish, or for the port to be stopped, in which case fn does nothing when it runs.
    virtual void PostToOwner(std::function<void()> fn) = 0;

    // Owner's thread. One notification: WM_COMM_RXCHAR with the byte as wParam, or one of the
    // event notifications with wParam 0; lParam is the port number.
    virtual void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) = 0;
};

// Shows a failed system call to the operator ("Application Error" box, stderr, or a test's list).
class CErrorReporter {
public:
    virtual ~CErrorReporter() = default;
    // Owner's thread; returns when the operator has dismissed the message.
    virtual void ShowError(const std::string& strCaption, const std::string& strText) = 0;
};
