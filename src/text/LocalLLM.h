#pragma once
// The local language model: a server program and its model file, run as a child process.

namespace LocalLLM {

// Both the model file and the server program are in the model folder.
bool isInstalled();
// Stops a model server left over from an earlier run.
void killStray();
// Starts fetching what is missing in the background; returns at once.
void warmUp();
// Stops the running model server, if any.
void stop();

} // namespace LocalLLM
