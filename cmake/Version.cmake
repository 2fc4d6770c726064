# The release number, in one place: the program, its greeting, the About box, the packages and
# the fuzz build all take it from here.
set(ZELVOR_VERSION 1.0.0.7)
