#pragma once

// The exit codes every quil program (and ./quil) uses, the values of BSD's sysexits.h, spelled out
// here because the Windows build of the agent has no such header.
namespace Zun {
namespace Tools {
namespace ExitCode {

const int kOk = 0;
const int kFailure = 1;        // the command ran and its outcome is a failure (a refused task, ...)
const int kUsage = 64;         // EX_USAGE: an unknown command or option, a bad option value
const int kDataError = 65;     // EX_DATAERR: the input (a task, a request) is malformed
const int kNoInput = 66;       // EX_NOINPUT: a file named on the command line does not exist
const int kUnavailable = 69;   // EX_UNAVAILABLE: the peer (a running agent, the product) is not there
const int kSoftware = 70;      // EX_SOFTWARE: an internal error
const int kCantCreate = 73;    // EX_CANTCREAT: an output file cannot be created
const int kIoError = 74;       // EX_IOERR: reading or writing failed
const int kTemporary = 75;     // EX_TEMPFAIL: try again later
const int kNoPermission = 77;  // EX_NOPERM: a file or folder is not trusted
const int kConfig = 78;        // EX_CONFIG: the configuration file or variables are wrong
const int kInterrupted = 130;  // 128 + SIGINT, as shells report a program stopped by Ctrl-C

}  // namespace ExitCode
}  // namespace Tools
}  // namespace Zun
