# Demo install script, as the app service would send it for "ostrel.demo".
echo "Installing Shelvo Demo..."
echo "Running as $(id -un) with zsh $ZSH_VERSION"
sleep 0.2
echo "Unpacking Shelvo Demo.app"
sleep 0.2
echo "Shelvo Demo installed"
