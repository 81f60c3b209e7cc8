#pragma once

class QObject;

namespace shell {

// Requests to end the program from outside (SIGTERM, SIGINT, SIGHUP on Unix;
// nothing elsewhere). From the first instruction of main to the moment the
// event loop can close the program normally they are held, then handed to that
// close: whenever a request comes, the program ends with status 0.

// Blocks the requests; call first thing in main, before any thread starts,
// so that every thread Qt starts inherits the block and none of them is ever
// interrupted by one. A request while they are held ends the program at once
// with status 0: there is nothing to save yet, and start-up may hang (a
// display that never answers) before it could take them.
void holdEndRequests();

// From now on a request ends context's event loop with status 0 (without a
// context: the program, at once), and a second one of the same kind ends the
// program at once: with status 0 until the window shows, then as the system
// would. Unblocks the requests on the calling thread
// (the only one that takes them), so that processes it starts do not inherit
// the block; a request that came while they were held is taken here.
void takeEndRequests(QObject *context);

// The main window shows: a second request of a kind ends the program as the
// system would from now on.
void windowShown();

// Whether a request to end came. Start-up steps stop at it; no box opens after it.
bool endRequested();

} // namespace shell
