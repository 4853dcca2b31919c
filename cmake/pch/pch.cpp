// Only here so that the shared precompiled headers have a target to be built in.
