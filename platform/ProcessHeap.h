// How the process's heap treats large blocks.
#pragma once

// Media work takes and frees several large pictures a frame. With this,
// freed pictures stay in the heap for the next ones instead of going back to
// the system, which would hand out fresh pages to clear and fault in for
// every frame. Call once, early in main.
void KeepFreedPicturesInHeap();
