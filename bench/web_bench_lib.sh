# Shared by the web benchmarks (sourced): the person they sign in as, and a benchmark database
# readied for the web once. Needs $build and $kvaction set.
user=u8 password=web-bench-pw

# database ROWS ENGINE: the connection string, the database made, upgraded and given the person.
database() {
  local connection
  connection=$("$build/bench/web_bench_db" "$1" "$2") || exit 1
  "$kvaction" --connection "$connection" upgrade >/dev/null
  if ! printf 'secret\n' | "$kvaction" --connection "$connection" --user admin --password-stdin \
    user list | grep -qw "$user"; then
    printf 'secret\n%s\n' "$password" |
      "$kvaction" --connection "$connection" --user admin --password-stdin \
        user add "$user" --name "Una Eight" >/dev/null
  fi
  echo "$connection"
}
