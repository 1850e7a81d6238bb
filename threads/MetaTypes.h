#pragma once

// Registers the types that the worker threads' signals carry across threads, so that queued
// connections to the window can copy them.
void registerUint32MetaType();
// ErrorCodes, the result of an update pass (PostFPGAUpdateComplete).
void registerErrorCodesMetaType();
