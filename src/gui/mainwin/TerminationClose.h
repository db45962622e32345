#pragma once
// Ending the windows on a termination request (Ctrl-C, SIGTERM, a hang-up) as Exit ends them.

namespace corvane3 {

// Closes every window as Exit closes it. A spectrum window ends its run and sends what closing
// it sends without asking first (nobody may be there to answer); the others close as usual.
// User-interface thread only.
void CloseWindowsOnTermination();

}  // namespace corvane3
