#!/usr/bin/env bash
# The layer rules: which folder may include which. The folder decides the layer, so one pass
# over every '#include "…"' line per folder against its allow-list is the whole check. Also
# refused: a connect() to a lambda without a receiver object, which outlives the object it uses.
set -euo pipefail
cd "$(dirname "$0")/.."

core_common="common"
core_store="common store"
core_net="common net"
core_reader="common store net reader"
core_catalogue="common store net reader catalogue"
core_history="common store net reader catalogue history"
core_vendor="common net vendor"
all_core="common store net reader catalogue history vendor"

# folder : the include roots its files may name
rules=(
    "core/common:$core_common"
    "core/store:$core_store"
    "core/net:$core_net"
    "core/reader:$core_reader"
    "core/catalogue:$core_catalogue"
    "core/history:$core_history"
    "core/vendor:$core_vendor"
    "gui/widgets:$all_core widgets"
    "gui/dialogs:$all_core widgets dialogs"
    "gui/app:$all_core widgets dialogs app"
    "cli:$all_core cli"
    "fuzz:$all_core support"
    "tests/support:$all_core support"
    "tests/core:$all_core support"
    "tests/gui:$all_core widgets dialogs app support"
    "bench:$all_core widgets dialogs app support"
)

failures=0
checked=0
for rule in "${rules[@]}"; do
    folder=${rule%%:*}
    allowed=" ${rule#*:} "
    [ -d "$folder" ] || { echo "check-layers: missing folder $folder" >&2; failures=$((failures + 1)); continue; }
    while IFS= read -r -d '' file; do
        checked=$((checked + 1))
        while IFS=: read -r line target; do
            if [[ $target != */* ]]; then
                # A file of the same folder (the moc output of a test, say).
                [[ $target == *.moc || -e "$(dirname "$file")/$target" ]] && continue
                echo "$file:$line: \"$target\" names no layer folder" >&2
                failures=$((failures + 1))
                continue
            fi
            root=${target%%/*}
            if [[ $allowed != *" $root "* ]]; then
                echo "$file:$line: $folder may not include \"$target\"" >&2
                failures=$((failures + 1))
            fi
        done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" \
                 | sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1:\2/')
    done < <(find "$folder" -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
done

# Every source folder must be covered by a rule: a new folder gets its rule before its code.
while IFS= read -r -d '' file; do
    covered=0
    for rule in "${rules[@]}"; do
        [[ $file == ./${rule%%:*}/* ]] && covered=1 && break
    done
    if [ $covered -eq 0 ]; then
        echo "$file: no layer rule covers its folder" >&2
        failures=$((failures + 1))
    fi
done < <(find . -path ./build -prune -o -path './build-*' -prune -o -path ./.git -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0)

# connect(sender, signal, [..]{..}): without a receiver the lambda runs after its captures are
# gone. Statements are joined onto one line so a connect spread over lines is seen whole.
lambda_connects=$(find core gui cli -type f -name '*.cpp' -print0 \
    | xargs -0 perl -0777 -ne '
        # The arguments of every connect( up to its closing bracket, split at the top-level commas.
        while (/\bconnect\(/g) {
            my $start = pos($_);
            my ($depth, $i, $cur) = (1, $start, ""); my @parts;
            while ($i < length($_) && $depth > 0) {
                my $c = substr($_, $i++, 1);
                if ($c =~ /[(\[{]/) { $depth++; }
                elsif ($c =~ /[)\]}]/) { $depth--; last if $depth == 0; }
                elsif ($c eq "," && $depth == 1) { push @parts, $cur; $cur = ""; next; }
                $cur .= $c;
            }
            push @parts, $cur;
            if (@parts >= 3 && $parts[2] =~ /^\s*\[/) {
                my $line = (substr($_, 0, $start) =~ tr/\n//) + 1;
                print "$ARGV:$line: connect to a lambda without a receiver object\n";
            }
        }' || true)
if [ -n "$lambda_connects" ]; then
    echo "$lambda_connects" >&2
    failures=$((failures + $(echo "$lambda_connects" | wc -l)))
fi

if [ $failures -gt 0 ]; then
    echo "check-layers: $failures fault(s) in $checked files" >&2
    exit 1
fi
echo "check-layers: $checked files keep the layer rules"
