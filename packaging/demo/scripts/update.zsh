# Demo update script: the service sends one script that updates every managed app.
echo "Everything is up to date."
