#pragma once

// The batch program called as "mavlin" (a link first on vimsor's PATH, in the
// scratch directory): runs the real mavlin, found on the PATH vimsor was
// given without the link, with its standard error sent to the input's log.
// So vimsor's own standard error holds vimsor's lines only, and its error
// message can be told apart (see error_message.h); mavlin runs as before.

// Does not return when mavlin starts; else 127 with the reason in the log.
int run_mavlin_shim(char** argv);
