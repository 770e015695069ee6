#!/usr/bin/env bash
# Creates a demo store under the given folder (kept when it exists).
set -euo pipefail
demo="$1"
contacts="$demo/data/cheerpost/Contacts"
[ -d "$contacts" ] && exit 0
mkdir -p "$contacts" "$demo/config/cheerpost" "$demo/templates"

# Delivery only records the messages: nothing leaves the machine.
cat > "$demo/deliver.sh" <<'SH'
#!/bin/sh
{ echo "From cheerpost $(date)"; cat; echo; } >> "$(dirname "$0")/delivered.mbox"
SH
chmod +x "$demo/deliver.sh"
cat > "$demo/config/cheerpost/host.conf" <<CONF
[General]
DeliveryCommand=$demo/deliver.sh
From=Demo User <demo@example.org>
CONF

year=$(date +%Y); month=$(date +%m); today=$((10#$(date +%d)))
last=$((10#$(date -d "$year-$month-01 +1 month -1 day" +%d)))
day() { local d=$(( $1 < last ? $1 : last )); printf '%02d' "$d"; }

card() { # file first last email bday anniversary spouse children category
  {
    printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:demo-%s\r\nN:%s;%s;;;\r\nFN:%s %s\r\n' "$1" "$3" "$2" "$2" "$3"
    printf 'EMAIL;TYPE=INTERNET:%s\r\n' "$4"
    [ -n "$5" ] && printf 'BDAY:%s\r\n' "$5"
    [ -n "$6" ] && printf 'X-ANNIVERSARY:%s\r\n' "$6"
    [ -n "$7" ] && printf 'X-SPOUSE:%s\r\n' "$7"
    [ -n "$8" ] && printf 'X-CHILDREN:%s\r\n' "$8"
    [ -n "$9" ] && printf 'CATEGORIES:%s\r\n' "$9"
    printf 'END:VCARD\r\n'
  } > "$contacts/$1.vcf"
}
card anna Anna Berg anna@example.org "1985-$month-$(day $today)" "" "" "" Family
card tom Tom Lind tom@example.org "" "2004-$month-$(day $((today + 2)))" Lisa "Sam, Mia" Family
card eva "Eva" "Nilsson" eva@example.org "1990-$month-$(day $((today + 5)))" "2015-$month-$(day $((today + 5)))" Jon "" Friends
card ole Ole Hansen ole@example.org "1970-01-15" "" "" "" Work
printf 'BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Family\r\nMEMBER:urn:uuid:demo-anna\r\nMEMBER:urn:uuid:demo-tom\r\nEND:VCARD\r\n' \
  > "$contacts/family.vcf"

# The shipped examples, for the editors' Open button.
cp "$(dirname "$0")/../templates/examples/"*.html "$demo/templates/"
echo "Demo store in $demo (templates to open in $demo/templates; sent mail lands in $demo/delivered.mbox)."
