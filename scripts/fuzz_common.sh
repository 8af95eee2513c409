# Sourced by fuzz.sh and fuzz_campaign.sh: what their runs of the targets
# share.

# How long one input of a target may run before libFuzzer calls it a hang
# (seconds). A KESTRIM session may synthesise 200 000 rays and then analyse
# them a few times over: up to about 15 s instrumented on a loaded machine,
# with the draws of random mode depending on the time-of-day seed. 30 s
# keeps a timeout meaning a hang there. The other targets keep 10 s.
fuzz_timeout() {
  case ${1%_fuzz} in
    kestrim_analysis | kestrim_session) echo 30 ;;
    *) echo 10 ;;
  esac
}

# libFuzzer options of one target beyond the common ones. A session
# target's inputs take from milliseconds to seconds (a plot of 200 000
# rays): its schedule picks the fast ones more often, up to 30 times, so
# the same hours explore more. The slow ones still run.
fuzz_options() {
  case ${1%_fuzz} in
    kestrim_analysis | kestrim_session | tavo_session) echo -entropic_scale_per_exec_time=1 ;;
  esac
}

# A new scratch folder for the targets, named PREFIX.XXXXXX: in memory where
# there is /dev/shm.
fuzz_scratch() {
  mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/$1.XXXXXX"
}
