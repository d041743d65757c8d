#pragma once
// One window per state folder: a start whose state folder already has a
// running window hands it the command line's folders and ends; that window
// opens them as new tabs and comes to the front.
#include <memory>
#include <string>
#include <vector>

struct TCommandLine;
class TForm1;
class TInstanceServer;

// The folders of a command line as one message, relative paths made absolute
// against the current folder (the running window has a different one).
std::string EncodeStartPaths(const std::vector<std::string>& left, const std::vector<std::string>& right);
// false for a message that is not one of ours.
bool DecodeStartPaths(const std::string& message, std::vector<std::string>& left, std::vector<std::string>& right);

// Decides at the start, under a lock: hands the folders over and returns
// true (the start ends with exitCode), or returns false with server
// listening for later starts (null when it could not listen; the window then
// runs on its own).
bool HandOverStart(const TCommandLine& line, std::unique_ptr<TInstanceServer>& server, int& exitCode);
// Later starts' folders go to form.
void ServeStarts(TInstanceServer* server, TForm1* form);
