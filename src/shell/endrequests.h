#pragma once

class QObject;

namespace shell {

// Requests to end the program from outside (SIGTERM, SIGINT, SIGHUP on Unix;
// nothing elsewhere). From the first instruction of main to the moment the
// event loop can close the program normally they are held, then handed to that
// close: whenever a request comes, the program ends with status 0.

// Blocks the requests; call first thing in main, before any thread starts,
// so that every thread Qt starts inherits the block and none of them is ever
// interrupted by one. A second request while they are held ends the program
// at once, as the system would (start-up may hang on a display that never
// answers, and there is nothing to save yet).
void holdEndRequests();

// From now on a request ends context's event loop with status 0, and a second
// one ends the program at once. Unblocks the requests on the calling thread
// (the only one that takes them), so that processes it starts do not inherit
// the block; a request that came while they were held is taken here.
void takeEndRequests(QObject *context);

// Whether a request to end came. Start-up steps stop at it; no box opens after it.
bool endRequested();

} // namespace shell
