/* The yardstick for vorn's start-up: a C program that writes the same 18
   lines as vorn's banner and help text with puts, and ends. */
#include <stdio.h>

int main(void) {
  puts("VORN disk rotation survey.  Copyright (c) 2026 the zeb project developers.");
  puts("");
  puts("VORN reports the effective RPM of each disk on the host");
  puts("system.  Effective RPM is the rate at which a program can");
  puts("repeatedly write to the same physical sector on a disk drive.");
  puts("");
  puts("mEffective RPM may be 1/2 actual RPM on some drives such as");
  puts("older models.  It may be reported lower than actual on");
  puts("a busy drive.  In some cases it has been shown reduced on");
  puts("mirrored drives, such as some mirrored pairs, where it shows as 1/3");
  puts("the physical RPM of the drive.");
  puts("");
  puts("This information should be useful in tuning an application by");
  puts("moving high activity files to faster access drives.");
  puts("");
  puts("Part of the zeb runtime library's sample utilities, ported to Linux.");
  puts("Source, documentation and issues: see the zeb project's README.");
  puts("");
  return 0;
}
