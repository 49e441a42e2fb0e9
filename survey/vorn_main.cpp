// vorn: surveys the effective rotational speed of every disk volume.
#include "zeb.h"

int main() { TEST(); }
