#!/usr/bin/env bash
# Position sources of the real runtime, headless: a fixed --location reported
# at once and then at the program's interval, an NMEA log replayed fix by fix
# into the program's observer, and one-line mistakes (status 2) for bad
# positions, unreadable or undated logs and both options at once.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
err=$E2E_TMP/stderr
E2E_SHOW="$err"
cd "$E2E_TMP"

run() {
    EXITED=0
    timeout 20 "$MCBRUN" "$@" 2>"$err" >/dev/null || EXITED=$?
    e2e_no_sanitizer_reports "$err"
}

# The logged lines after the program's start, one line each.
reports() {
    sed -n 's/^LOG: //p' "$err" | sed '1{/^started$/d}'
}

expect_one_line() {
    [ "$EXITED" -eq 2 ] || e2e_fail "$1: status $EXITED, expected 2"
    [ "$(wc -l <"$err")" -eq 1 ] || e2e_fail "$1: $(wc -l <"$err") lines on standard error"
    [ "$(cat "$err")" = "$1" ] || e2e_fail "standard error is '$(cat "$err")', expected '$1'"
}

app=$E2E_TMP/app
e2e_install "$SOURCE/tests/e2e/programs/location.mcbs" "$app"

# 60.25 N 24.5 W, 12 m: the same report every 100 ms from the start on.
run --headless --location 60.25,-24.5,12 --run-for 800 "$app"
[ "$EXITED" -eq 0 ] || e2e_fail "--location: status $EXITED"
fixed="at 60 1073741824 -25 -2147483648 12 0"
blocks=$(reports | paste -d ' ' - - - - - - - | sort | uniq -c)
count=$(echo "$blocks" | awk '{ print $1 }')
[ "$(echo "$blocks" | sed -E 's/^ *[0-9]+ //')" = "$fixed" ] || e2e_fail "--location reported: $blocks"
[ "$count" -ge 2 ] && [ "$count" -le 9 ] || e2e_fail "--location: $count reports in 800 ms at 100 ms"

# Four fixes 0.2 s apart: each reaches the observer once, in order
# (latitude, longitude, altitude; the altitude only where GGA gives it).
checksum() {
    local body=$1 sum=0 i
    for ((i = 0; i < ${#body}; i++)); do
        sum=$((sum ^ $(printf '%d' "'${body:i:1}")))
    done
    printf '$%s*%02X\r\n' "$body" "$sum"
}
{
    checksum 'GPGGA,120000.00,4815.000,N,01130.000,E,1,08,0.9,545.5,M,46.9,M,,'
    checksum 'GPRMC,120000.00,A,4815.000,N,01130.000,E,0.0,0.0,081226,,,A'
    checksum 'GPRMC,120000.20,A,4807.500,N,01130.000,E,0.0,0.0,081226,,,A'
    checksum 'GPRMC,120000.40,A,4807.500,S,00145.000,W,0.0,0.0,081226,,,A'
    checksum 'GPRMC,120000.60,A,0030.000,S,00015.000,W,0.0,0.0,081226,,,A'
} >trip.nmea
run --headless --location-nmea trip.nmea --run-for 2000 "$app"
[ "$EXITED" -eq 0 ] || e2e_fail "--location-nmea: status $EXITED"
expected="at 48 1073741824 11 -2147483648 545 -2147483648
at 48 536870912 11 -2147483648 0 0
at -49 -536870912 -2 1073741824 0 0
at -1 -2147483648 -1 -1073741824 0 0"
actual=$(reports | paste -d ' ' - - - - - - -)
[ "$actual" = "$expected" ] || e2e_fail "--location-nmea reported:
$actual"

run --headless --location 91,0 "$app"
expect_one_line "mcbrun: --location: '91,0' is not LAT,LON[,ALT] (latitude -90 to 90 and longitude -180 to 180 degrees, altitude -100000 to 100000 metres)"
run --headless --location 1,2 --location-nmea trip.nmea "$app"
expect_one_line "mcbrun: --location and --location-nmea exclude each other"
run --headless --location-nmea "$E2E_TMP/none.nmea" "$app"
expect_one_line "mcbrun: cannot read the NMEA file $E2E_TMP/none.nmea"
grep GGA trip.nmea >undated.nmea
run --headless --location-nmea undated.nmea "$app"
expect_one_line "mcbrun: no NMEA fix with a date (an RMC sentence) in undated.nmea"
echo "PASS desktop_location"
